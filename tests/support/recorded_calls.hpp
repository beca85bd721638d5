#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kelvra::testing {

// One start of the recording terminal program: who started it, with what.
struct recorded_launch {
    qint64 parent = 0;
    QStringList arguments;
};

// What the recording terminal program wrote into `dir` (one file per
// start), in start order. take_ removes them.
QList<recorded_launch> take_recorded_launches(QString const& dir);
QList<QStringList> recorded_calls(QString const& dir);
QList<QStringList> take_recorded_calls(QString const& dir);
bool has_recorded_calls(QString const& dir);

} // namespace kelvra::testing
