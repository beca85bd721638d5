#pragma once
// What the widget tests share: their support headers, modal windows answered
// from the test, and the installed tests' main().
#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "support/keyboard.hpp"
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <functional>

namespace kelvra::testing {

template <class T = QWidget> T* child(QObject const* parent, QString const& name) {
    return parent->findChild<T*>(name);
}

// Runs `act` on the next modal window called `name` (empty: a message box) once
// it is up, and closes it if `act` failed, so that a failure does not hang.
inline void on_next_modal(QString const& name, std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [name, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (w == nullptr ||
            (name.isEmpty() ? !qobject_cast<QMessageBox*>(w) : w->objectName() != name)) {
            on_next_modal(name, act); // not up yet
            return;
        }
        act(w);
        if (QTest::currentTestFailed()) {
            static_cast<QDialog*>(w)->done(QDialog::Rejected);
        }
    });
}

// Answers the next message boxes, one button text each, logging each box as
// "title|text|buttons left to right, the default one starred".
inline void answer_boxes(QStringList const& answers, QStringList* log) {
    on_next_modal({}, [answers, log](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        QStringList buttons;
        QAbstractButton* chosen = nullptr;
        QList<QAbstractButton*> shown = box->buttons();
        std::sort(shown.begin(), shown.end(),
                  [](auto* a, auto* b) { return a->geometry().x() < b->geometry().x(); });
        for (QAbstractButton* b : shown) {
            QString const label = b->text().remove('&');
            buttons << label + (b == box->defaultButton() ? "*" : "");
            chosen = label == answers.first() ? b : chosen;
        }
        *log << box->windowTitle() + '|' + box->text() + '|' + buttons.join(',');
        QVERIFY2(chosen, qPrintable(answers.first()));
        if (answers.size() > 1) {
            answer_boxes(answers.mid(1), log);
        }
        chosen->click();
    });
}

} // namespace kelvra::testing

// The test copies itself to bin/ of a temporary installation and runs there,
// through the program and arguments in `wrapper` when they are not empty.
#define KELVRA_INSTALLED_TEST_MAIN(test_class) KELVRA_INSTALLED_TEST_MAIN_WITH(test_class, {})
#define KELVRA_INSTALLED_TEST_MAIN_WITH(test_class, wrapper)                                       \
    int main(int argc, char** argv) {                                                              \
        if (!kelvra::testing::in_installation()) {                                                 \
            QCoreApplication probe(argc, argv);                                                    \
            return kelvra::testing::run_installed("bin/" #test_class, wrapper);                    \
        }                                                                                          \
        kelvra::interface::register_resources();                                                   \
        QApplication application(argc, argv);                                                      \
        test_class test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
