#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kelvra::testing {

// The argument lists the recording terminal program wrote into `dir`
// (one NUL-separated file per start), oldest first. take_ removes them.
QList<QStringList> recorded_calls(QString const& dir);
QList<QStringList> take_recorded_calls(QString const& dir);
bool has_recorded_calls(QString const& dir);

} // namespace kelvra::testing
