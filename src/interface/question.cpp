#include "interface/question.hpp"

#include <QMessageBox>
#include <QPushButton>

namespace kelvra::interface {

QString ask(QWidget* parent, QString const& title, QString const& text, QStringList const& buttons,
            QString const& default_button, QString const& escape_button) {
    QMessageBox question(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    question.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
    for (QString const& label : buttons) {
        // One role for all: buttons of one role show in the order added.
        QPushButton* const button = question.addButton(label, QMessageBox::ActionRole);
        if (label == default_button) {
            question.setDefaultButton(button);
        }
        if (label == escape_button) {
            question.setEscapeButton(button);
        }
    }
    question.exec();
    QAbstractButton const* const clicked = question.clickedButton();
    return clicked != nullptr ? clicked->text() : QString();
}

} // namespace kelvra::interface
