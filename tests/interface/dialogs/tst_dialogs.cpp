#include "core/settings_password.hpp"
#include "core/version.hpp"
#include "interface/help/about.hpp"
#include "interface/help/dialog_manuals.hpp"
#include "interface/preferences/dialog_configuracoes.hpp"

#include <brano/core/v6/converter.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace core = brano::core::v6;
using namespace kelvra::interface;

namespace {

std::unique_ptr<QDialog> make_dialog(QString const& kind) {
    if (kind == "configuracoes")
        return std::make_unique<preferences::dialog_configuracoes>(nullptr);
    if (kind == "manuals")
        return std::make_unique<help::dialog_manuals>(nullptr);
    return std::make_unique<help::about>(nullptr);
}

QString text_of(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        return box->title();
    return widget->windowTitle();
}

QString password_of(QDate const& day) {
    core::result::stack status;
    auto const text =
        kelvra::settings_password(core::date(day.year(), day.month(), day.day()), status);
    return QString::fromStdString(text);
}

QDate today() {
    auto const now = core::datetime::now().get_date();
    return QDate(now.get_year(), now.get_month(), now.get_day());
}

// Answers the message box that the next modal call shows with Ok and keeps
// its title and text.
void answer_next_box(QString& seen) {
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = box->windowTitle() + "|" + box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

} // namespace

class tst_dialogs : public QObject {
    Q_OBJECT

private slots:
    void forms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("text");
        QTest::newRow("configuracoes") << "configuracoes"
                                       << "dialog_configuracoes"
                                       << "Kelvra";
        QTest::newRow("senha") << "configuracoes"
                               << "l_senha_configuracoes"
                               << "Senha";
        QTest::newRow("cancelar") << "configuracoes"
                                  << "btn_cancelar"
                                  << "Cancelar";
        QTest::newRow("ok") << "configuracoes"
                            << "btn_ok"
                            << "Ok";
        QTest::newRow("manuals") << "manuals"
                                 << "dialog_manuals"
                                 << "Manuais";
        QTest::newRow("page 1") << "manuals"
                                << "groupBox_manual_1"
                                << "Configuração Servidor Remoto";
        QTest::newRow("page 2") << "manuals"
                                << "groupBox_manual_2"
                                << "Impressão";
        QTest::newRow("page 3") << "manuals"
                                << "groupBox_manual_3"
                                << "Biometria";
        QTest::newRow("page 4") << "manuals"
                                << "groupBox_manual_4"
                                << "Visualização de Imagens";
        QTest::newRow("about") << "about"
                               << "about"
                               << "Kelvra - Sobre";
        QTest::newRow("kelvra") << "about"
                                << "l_kelvra"
                                << "Kelvra";
        QTest::newRow("durvane") << "about"
                                 << "l_durvane"
                                 << "Durvane";
        QTest::newRow("version") << "about"
                                 << "l_version"
                                 << "Versão 1.3.3";
    }
    void forms() {
        QFETCH(QString, kind);
        QFETCH(QString, object);
        QFETCH(QString, text);
        auto const dialog = make_dialog(kind);
        auto* widget =
            dialog->objectName() == object ? dialog.get() : dialog->findChild<QWidget*>(object);
        QVERIFY2(widget, qPrintable(object));
        QCOMPARE(text_of(widget), text);
        QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    }

    void password_rule_data() {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("unlocks");
        QTest::newRow("that day") << QDate(2026, 3, 7) << "20260307" << true;
        QTest::newRow("the day before") << QDate(2026, 3, 8) << "20260307" << false;
        QTest::newRow("the day after") << QDate(2026, 3, 6) << "20260307" << false;
        QTest::newRow("new year") << QDate(2027, 1, 1) << "20270101" << true;
        QTest::newRow("empty") << QDate(2026, 3, 7) << "" << false;
        QTest::newRow("no padding") << QDate(2026, 3, 7) << "202637" << false;
        QTest::newRow("trailing blank") << QDate(2026, 3, 7) << "20260307 " << false;
        QTest::newRow("garbage") << QDate(2026, 3, 7) << "senha" << false;
    }
    void password_rule() {
        QFETCH(QDate, day);
        QFETCH(QString, typed);
        QFETCH(bool, unlocks);
        core::result::stack status;
        auto const date = core::date(day.year(), day.month(), day.day());
        QCOMPARE(kelvra::is_settings_password(typed.toStdString(), date, status), unlocks);
        QVERIFY(!status.has_failed());
    }

    void password_rule_refuses_unwritable_dates_data() {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::newRow("five-digit year") << 10000 << 1 << 1;
        QTest::newRow("negative year") << -1 << 1 << 1;
        QTest::newRow("month 13") << 2026 << 13 << 1;
        QTest::newRow("day 0") << 2026 << 3 << 0;
    }
    void password_rule_refuses_unwritable_dates() {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        core::result::stack status;
        QVERIFY(!kelvra::is_settings_password("", core::date(year, month, day), status));
        QVERIFY(status.has_failed());
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
        auto const typed = password_of(today().addDays(days_from_today));
        field->setText(typed);
        QString box;
        if (!accepted)
            answer_next_box(box);
        QTest::keyClick(field, Qt::Key_Return); // Enter answers "Ok"
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(dialog.isVisible(), !accepted);
        QCOMPARE(box, accepted ? QString() : QString("Kelvra|Senha inválida"));
        QCOMPARE(field->text(), typed);
    }

    void settings_dialog_cancel_rejects() {
        preferences::dialog_configuracoes dialog(nullptr);
        dialog.show();
        dialog.findChild<QLineEdit*>("le_senha_configuracoes")->setText(password_of(today()));
        dialog.findChild<QPushButton*>("btn_cancelar")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    void about_shows_the_program_version() {
        help::about dialog(nullptr);
        QCOMPARE(QString::fromLatin1(kelvra::kelvra_version), QString("1.3.3"));
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
        QCOMPARE(pages->count(), 4);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(pages->currentWidget()->objectName(), QString("page_manual_1"));
        for (int page = 1; page <= 4; ++page) {
            auto* text =
                dialog.findChild<QTextBrowser*>(QString("textBrowser_manual_%1").arg(page));
            QVERIFY(text->isReadOnly());
            QVERIFY2(text->toPlainText().trimmed().size() > 200, qPrintable(text->objectName()));
        }
        auto const first = dialog.findChild<QTextBrowser*>("textBrowser_manual_1")->toPlainText();
        QVERIFY(first.contains("AcceptEnv KELVRA_*"));
        QVERIFY(first.contains("AllowStreamLocalForwarding yes"));
        QVERIFY(first.contains("systemctl reload ssh"));
        list->setCurrentRow(2);
        QCOMPARE(pages->currentWidget()->objectName(), QString("page_manual_3"));
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
