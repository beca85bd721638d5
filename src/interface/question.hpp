#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kelvra::interface {

// Asks `text` in a question box titled `title` whose buttons read `buttons`,
// left to right as given on every desktop (not in the platform's order for
// yes and no). `default_button` answers Enter; Escape answers
// `escape_button`, or nothing when it is empty. Returns the text of the
// button clicked, or an empty text when the box closed without one.
QString ask(QWidget* parent, QString const& title, QString const& text, QStringList const& buttons,
            QString const& default_button, QString const& escape_button = {});

} // namespace kelvra::interface
