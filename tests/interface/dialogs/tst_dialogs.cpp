#include "core/settings_password.hpp"
#include "interface/help/about.hpp"
#include "interface/help/dialog_manuals.hpp"
#include "interface/preferences/dialog_aparencia.hpp"
#include "interface/preferences/dialog_configuracoes.hpp"
#include "support/keyboard.hpp"

#include <brano/core/v6/converter.hpp>

#include <QtTest>
#include <QtWidgets>

namespace core = brano::core::v6;
using namespace kelvra::interface;

class tst_dialogs : public QObject {
    Q_OBJECT

private slots:
    // Every stop of the Tab key, as a screen reader announces it.
    void keyboard_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QStringList>("spoken");
        QTest::newRow("settings") << "dialog_configuracoes"
                                  << QStringList{"Senha", "Cancelar", "Ok"};
        QTest::newRow("appearance") << "dialog_aparencia" << QStringList{"Tema:", "Ok", "Cancelar"};
        QTest::newRow("manuals") << "dialog_manuals"
                                 << QStringList{"Manuais", "Configuração Servidor Remoto"};
        QTest::newRow("about") << "about" << QStringList{};
    }
    void keyboard() {
        QFETCH(QString, form);
        std::unique_ptr<QDialog> dialog;
        if (form == "dialog_configuracoes")
            dialog = std::make_unique<preferences::dialog_configuracoes>(nullptr);
        else if (form == "dialog_aparencia")
            dialog = std::make_unique<preferences::dialog_aparencia>(QString(), nullptr);
        else if (form == "dialog_manuals")
            dialog = std::make_unique<help::dialog_manuals>(nullptr);
        else
            dialog = std::make_unique<help::about>(nullptr);
        QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
        QTEST(kelvra::testing::read_by_keyboard(*dialog), "spoken");
    }

    void password_rule_data() {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("unlocks");
        QTest::addColumn<bool>("fails");
        QTest::newRow("that day") << QDate(2026, 3, 7) << "20260307" << true << false;
        QTest::newRow("the day before") << QDate(2026, 3, 8) << "20260307" << false << false;
        QTest::newRow("the day after") << QDate(2026, 3, 6) << "20260307" << false << false;
        QTest::newRow("padded") << QDate(2027, 1, 1) << "20270101" << true << false;
        QTest::newRow("empty") << QDate(2026, 3, 7) << "" << false << false;
        QTest::newRow("garbage") << QDate(2026, 3, 7) << "20260307 " << false << false;
        QTest::newRow("five-digit year") << QDate(10000, 1, 1) << "100000101" << false << true;
        QTest::newRow("negative year") << QDate(-1, 1, 1) << "" << false << true;
    }
    void password_rule() {
        QFETCH(QDate, day);
        QFETCH(QString, typed);
        QFETCH(bool, unlocks);
        QFETCH(bool, fails);
        core::result::stack status;
        auto const date = core::date(day.year(), day.month(), day.day());
        QCOMPARE(kelvra::is_settings_password(typed.toStdString(), date, status), unlocks);
        QCOMPARE(status.has_failed(), fails);
        if (fails)
            QCOMPARE(&status.begin()->get_category(), &core::converter_result_category::instance());
    }

    void settings_dialog_data() {
        QTest::addColumn<int>("days_from_today");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("today") << 0 << true;
        QTest::newRow("yesterday") << -1 << false;
    }
    void settings_dialog() {
        QFETCH(int, days_from_today);
        QFETCH(bool, accepted);
        preferences::dialog_configuracoes dialog(nullptr);
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>("le_senha_configuracoes");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.findChild<QLabel*>("l_senha_configuracoes")->buddy(), field);
        auto const day = QDate::currentDate().addDays(days_from_today);
        core::result::stack status;
        auto const typed = QString::fromStdString(
            kelvra::settings_password(core::date(day.year(), day.month(), day.day()), status));
        field->setText(typed);
        QString box;
        if (!accepted) {
            QTimer::singleShot(0, [&box] {
                if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    box = shown->windowTitle() + "|" + shown->text();
                    shown->button(QMessageBox::Ok)->click();
                }
            });
        }
        QTest::keyClick(field, Qt::Key_Return); // Enter answers "Ok"
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(dialog.isVisible(), !accepted);
        QCOMPARE(box, accepted ? QString() : QString("Kelvra|Senha inválida"));
        QCOMPARE(field->text(), typed);
        dialog.findChild<QPushButton*>("btn_cancelar")->click();
        QVERIFY(!dialog.isVisible());
    }

    // The pages follow the list; the first tells the server's settings.
    void manuals_pages() {
        help::dialog_manuals dialog(nullptr);
        auto* list = dialog.findChild<QListWidget*>("list_widget_manuais");
        auto* pages = dialog.findChild<QStackedWidget*>("stacked_widget_manuais");
        QCOMPARE(list->count(), 4);
        QCOMPARE(pages->currentIndex(), 0);
        auto const first = dialog.findChild<QTextBrowser*>("textBrowser_manual_1")->toPlainText();
        for (auto const* line :
             {"AcceptEnv KELVRA_*", "AllowStreamLocalForwarding yes", "systemctl reload ssh"})
            QVERIFY2(first.contains(line), line);
        list->setCurrentRow(2);
        QCOMPARE(pages->currentWidget()->objectName(), QString("page_manual_3"));
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
