#include "core/settings_password.hpp"
#include "core/version.hpp"
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
    void forms_data() {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("text");
        char const* const texts[][2] = {
            {"dialog_configuracoes", "Kelvra"},
            {"l_senha_configuracoes", "Senha"},
            {"btn_cancelar", "Cancelar"},
            {"btn_ok", "Ok"},
            {"dialog_manuals", "Manuais"},
            {"groupBox_manual_1", "Configuração Servidor Remoto"},
            {"groupBox_manual_2", "Impressão"},
            {"groupBox_manual_3", "Biometria"},
            {"groupBox_manual_4", "Visualização de Imagens"},
            {"about", "Kelvra - Sobre"},
            {"l_kelvra", "Kelvra"},
            {"l_durvane", "Durvane"},
            {"l_version", "Versão 1.3.3"},
        };
        for (auto const& [object, text] : texts)
            QTest::newRow(object) << QString(object) << QString(text);
    }
    void forms() {
        QFETCH(QString, object);
        QFETCH(QString, text);
        preferences::dialog_configuracoes settings(nullptr);
        help::dialog_manuals manuals(nullptr);
        help::about about(nullptr);
        for (QDialog* dialog : std::initializer_list<QDialog*>{&settings, &manuals, &about}) {
            QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
            auto* widget =
                dialog->objectName() == object ? dialog : dialog->findChild<QWidget*>(object);
            if (widget != nullptr) {
                char const* property = widget->isWindow()                 ? "windowTitle"
                                       : qobject_cast<QGroupBox*>(widget) ? "title"
                                                                          : "text";
                QCOMPARE(widget->property(property).toString(), text);
                return;
            }
        }
        QFAIL("no such object");
    }

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
        QTest::newRow("tomorrow") << 1 << false;
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

    void about_shows_the_program_version() {
        help::about dialog(nullptr);
        QCOMPARE(dialog.findChild<QLabel*>("l_version")->text(),
                 "Versão " + QString::fromLatin1(kelvra::kelvra_version));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    }

    void manuals_pages() {
        help::dialog_manuals dialog(nullptr);
        auto* list = dialog.findChild<QListWidget*>("list_widget_manuais");
        auto* pages = dialog.findChild<QStackedWidget*>("stacked_widget_manuais");
        QStringList entries;
        for (int row = 0; row < list->count(); ++row)
            entries << list->item(row)->text();
        QCOMPARE(entries, QStringList({"Config. Servidor Remoto", "Impressão", "Biometria",
                                       "Visualização de Imagens"}));
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(pages->currentIndex(), 0);
        for (int page = 1; page <= 4; ++page) {
            auto* text =
                dialog.findChild<QTextBrowser*>(QString("textBrowser_manual_%1").arg(page));
            QVERIFY2(text->toPlainText().size() > 200, qPrintable(text->objectName()));
        }
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
