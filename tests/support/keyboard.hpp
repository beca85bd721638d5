#pragma once

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace kelvra::testing {

// What a screen reader says at each stop of the Tab key through `window`,
// from the widget that has the focus when it opens until the focus comes
// back to it: the label it is announced with (the QLabel whose buddy it is)
// or else its accessible name, or the role's number when it has neither (a
// field nobody can tell apart). A group box around a field is context, not
// its name.
inline QStringList read_by_keyboard(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    if (!QTest::qWaitForWindowActive(&window)) {
        return {QStringLiteral("window not active")};
    }
    QStringList spoken;
    QWidget* const first = QApplication::focusWidget();
    for (QWidget* at = first; at != nullptr && spoken.size() < 30;) {
        QAccessibleInterface* const reader = QAccessible::queryAccessibleInterface(at);
        QString name = reader != nullptr ? reader->text(QAccessible::Name) : QString();
        for (auto const& [label, relation] : reader->relations(QAccessible::Label)) {
            if (qobject_cast<QLabel*>(label->object()) != nullptr) {
                name = label->text(QAccessible::Name);
            }
        }
        spoken << (name.isEmpty() ? QStringLiteral("?%1").arg(int(reader->role())) : name);
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        if (at == first) {
            break;
        }
    }
    return spoken;
}

} // namespace kelvra::testing
