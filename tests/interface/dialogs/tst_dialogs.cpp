#include "core/settings_password.hpp"
#include "interface/help/about.hpp"
#include "interface/help/dialog_manuals.hpp"
#include "interface/preferences/dialog_aparencia.hpp"
#include "interface/preferences/dialog_configuracoes.hpp"
#include "interface/widget_testing.hpp"

#include <brano/core/v6/converter.hpp>

namespace core = brano::core::v6;
using namespace kelvra::interface;

class tst_dialogs : public QObject {
    Q_OBJECT

private slots:
    // "name=text" of each object, and each Tab stop as a screen reader says it.
    void forms_data() {
        QTest::addColumn<QString>("texts");
        QTest::addColumn<QStringList>("spoken");
        QTest::newRow("settings") << "dialog_configuracoes=Kelvra;l_senha_configuracoes=Senha;"
                                     "btn_cancelar=Cancelar;btn_ok=Ok"
                                  << QStringList{"Senha", "Cancelar", "Ok"};
        QTest::newRow("appearance")
            << "dialog_aparencia=Aparência;l_aparencia=Tema:;btn_ok=Ok;btn_cancelar=Cancelar"
            << QStringList{"Tema:", "Ok", "Cancelar"};
        QTest::newRow("manuals") << "dialog_manuals=Manuais;"
                                    "groupBox_manual_1=Configuração Servidor Remoto;"
                                    "groupBox_manual_2=Impressão;groupBox_manual_3=Biometria;"
                                    "groupBox_manual_4=Visualização de Imagens"
                                 << QStringList{"Manuais", "Configuração Servidor Remoto"};
        QTest::newRow("about") << "about=Kelvra - Sobre;l_kelvra=Kelvra;l_durvane=Durvane;"
                                  "l_version=Versão 1.3.3"
                               << QStringList{};
    }
    void forms() {
        QFETCH(QString, texts);
        QString const form = texts.section('=', 0, 0);
        std::unique_ptr<QDialog> const dialog(
            form == "dialog_configuracoes" ? new preferences::dialog_configuracoes(nullptr)
            : form == "dialog_aparencia"   ? new preferences::dialog_aparencia(QString(), nullptr)
            : form == "dialog_manuals" ? static_cast<QDialog*>(new help::dialog_manuals(nullptr))
                                       : new help::about(nullptr));
        QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(form != "about" || dialog->minimumSize() == dialog->maximumSize());
        QStringList seen;
        for (QString const& pair : texts.split(';')) {
            QString const name = pair.section('=', 0, 0);
            QWidget* w = name == form ? dialog.get() : dialog->findChild<QWidget*>(name);
            QVERIFY2(w, qPrintable(name));
            char const* property = w->isWindow()                 ? "windowTitle"
                                   : qobject_cast<QGroupBox*>(w) ? "title"
                                                                 : "text";
            seen << name + '=' + w->property(property).toString();
        }
        QCOMPARE(seen.join(';'), texts);
        QTEST(kelvra::testing::read_by_keyboard(*dialog), "spoken");
    }

    void password_rule_data() {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("unlocks");
        QTest::addColumn<bool>("fails");
        QTest::newRow("that day") << QDate(2026, 3, 7) << "20260307" << true << false;
        QTest::newRow("another day") << QDate(2026, 3, 8) << "20260307" << false << false;
        QTest::newRow("padded") << QDate(2027, 1, 1) << "20270101" << true << false;
        QTest::newRow("empty") << QDate(2026, 3, 7) << "" << false << false;
        QTest::newRow("garbage") << QDate(2026, 3, 7) << "20260307 " << false << false;
        QTest::newRow("five-digit year") << QDate(10000, 1, 1) << "100000101" << false << true;
        QTest::newRow("negative year") << QDate(-1, 1, 1) << "" << false << true;
    }
    void password_rule() {
        QFETCH(QDate, day);
        QFETCH(QString, typed);
        QFETCH(bool, fails);
        core::result::stack status;
        auto const date = core::date(day.year(), day.month(), day.day());
        QTEST(kelvra::is_settings_password(typed.toStdString(), date, status), "unlocks");
        QCOMPARE(status.has_failed(), fails);
        if (fails) {
            QCOMPARE(&status.begin()->get_category(), &core::converter_result_category::instance());
        }
    }

    // Yesterday's password is refused (today's is the main window's test).
    void settings_dialog_refuses() {
        preferences::dialog_configuracoes dialog(nullptr);
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>("le_senha_configuracoes");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.findChild<QLabel*>("l_senha_configuracoes")->buddy(), field);
        field->setText(QDate::currentDate().addDays(-1).toString("yyyyMMdd"));
        QString box;
        QTimer::singleShot(0, &dialog, [&box] {
            auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box = shown->windowTitle() + "|" + shown->text();
            shown->button(QMessageBox::Ok)->click();
        });
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(box, QString("Kelvra|Senha inválida"));
        QVERIFY(dialog.isVisible() && dialog.result() != QDialog::Accepted);
        dialog.findChild<QPushButton*>("btn_cancelar")->click();
        QVERIFY(!dialog.isVisible());
    }

    void manuals_pages() {
        help::dialog_manuals dialog(nullptr);
        auto* list = dialog.findChild<QListWidget*>("list_widget_manuais");
        auto* pages = dialog.findChild<QStackedWidget*>("stacked_widget_manuais");
        QStringList entries;
        for (int row = 0; row < list->count(); ++row) {
            entries << list->item(row)->text();
        }
        QCOMPARE(entries, QStringList({"Config. Servidor Remoto", "Impressão", "Biometria",
                                       "Visualização de Imagens"}));
        QCOMPARE(list->currentRow() + pages->currentIndex(), 0);
        auto const first = dialog.findChild<QTextBrowser*>("textBrowser_manual_1")->toPlainText();
        for (auto const* line :
             {"AcceptEnv KELVRA_*", "AllowStreamLocalForwarding yes", "systemctl reload ssh"}) {
            QVERIFY2(first.contains(line), line);
        }
        list->setCurrentRow(2);
        QCOMPARE(pages->currentWidget()->objectName(), QString("page_manual_3"));
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
