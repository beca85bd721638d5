// The support dialog and "Suporte" offscreen, in a temporary installation.
#include "connections/manager.hpp"
#include "core/installation_config.hpp"
#include "crypto/session_key.hpp"
#include "interface/support/dialog_suporte.hpp"
#include "interface/widget_testing.hpp"

using kelvra::interface::support::dialog_suporte;
using namespace kelvra::testing;

namespace {

// Notes and closes the message box of the next event loop, if there is one.
void dismiss_next_error(QObject* context, QString* text) {
    QTimer::singleShot(0, context, [text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
}

QString desk_password(QString const& code) {
    return run_program(KELVRA_SENHA_SUPORTE, {code, "4294968297"}).out.trimmed();
}

} // namespace

class tst_support : public QObject {
    Q_OBJECT

    QString const root_ = QCoreApplication::applicationDirPath() + "/..";
    isolated_home home_;
    machine_identity identity_;
    QTemporaryDir records_;

private slots:
    void initTestCase() {
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(QFile::copy(KELVRA_RECORDING_PUTTY, root_ + "/libexec/putty"));
        QVERIFY(write_file(root_ + "/etc/config.json",
                           R"({"codigo": 4294968297, "nomeFantasia": "Mercado Central Serrano"})"));
    }

    // Only the desk's answer to the code shown accepts; a refusal keeps the code.
    void password_check_data() {
        QTest::addColumn<QString>("typed"); // %1: the desk's answer
        QTest::addColumn<bool>("renew_first");
        QTest::newRow("desk answer") << "%1" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("surrounding blanks") << " %1 " << false;
        QTest::newRow("answer to the replaced code") << "%1" << true;
    }

    void password_check() {
        QFETCH(QString, typed);
        QFETCH(bool, renew_first);
        bool const accepted = typed == "%1" && !renew_first;
        dialog_suporte dialog;
        QString error, shown, left_open_with;
        QStringList seen;
        on_next_modal("dialog_suporte", [&](QWidget* d) {
            seen << child<QLabel>(d, "l_codigo_cliente")->text()
                 << child<QLabel>(d, "l_nome_fantasia")->text()
                 << (d->width() < d->sizeHint().width() ? "cut" : "whole")
                 << read_by_keyboard(*d).join('|');
            shown = child<QLabel>(d, "l_codigo")->text();
            QString const answer = desk_password(shown);
            auto* animation = d->findChild<QPropertyAnimation*>();
            for (int at : {143999, 144000, renew_first ? 180000 : 0}) {
                animation->setCurrentTime(at);
                seen << child<QProgressBar>(d, "progressBar")->styleSheet().section(' ', 2);
            }
            seen << QString::number(animation->state());
            child<QLineEdit>(d, "le_senha")->setText(typed.replace("%1", answer));
            dismiss_next_error(d, &error); // if one comes up
            child<QPushButton>(d, "btn_ok")->click();
            if (d->isVisible()) {
                left_open_with = child<QLabel>(d, "l_codigo")->text();
                static_cast<QDialog*>(d)->reject();
            }
        });
        QCOMPARE(dialog.exec(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(seen, (QStringList{"4294968297", "Mercado Central Serrano", "whole",
                                    "Senha de suporte|Cancelar|Ok|Copiar código temporário",
                                    "green}", "red}", "green}", "2"})); // Running
        QCOMPARE(error, accepted ? QString() : QString("Senha invalida"));
        QCOMPARE(left_open_with.isEmpty(), accepted);
        QVERIFY(accepted || (left_open_with == shown) != renew_first);
    }

    void missing_client_data_shows_no_dialog() {
        auto const config = kelvra::installation_config::load(QDir::tempPath() + "/none/bin");
        dialog_suporte dialog(nullptr, &config);
        QString error;
        dismiss_next_error(&dialog, &error);
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(error, QString("Erro ao obter codigo do cliente"));
    }

    // The stored secret and path under a shell command; the file unchanged.
    void support_launch_data() {
        QTest::addColumn<bool>("decrypts");
        QTest::newRow("stored key text") << true;
        QTest::newRow("key text that does not decrypt") << false;
    }

    void support_launch() {
        QFETCH(bool, decrypts);
        QString const self = QCoreApplication::applicationFilePath();
        QByteArray const key =
            decrypts ? identity_.session_key_text(self, "s3nh@", "menu", "/srv/mirtel").toUtf8()
                     : "AAE="; // a text, but no session key
        QString const file = root_ + "/var/sessions/{5e551000-0000-4000-8000-000000000001}.json";
        QByteArray const stored =
            R"({"versao": 2, "nome": "Vendas", "host": "mirtel", "porta": 22, )"
            R"("usuario": "op", "tipo_autenticacao": 0, "caminho": "/srv/mirtel", )"
            R"("comando": "menu", "autostart": false, "maximized": false, "key": )"
            "\"" +
            key + "\"}";
        QVERIFY(write_file(file, stored));
        kelvra::ui::MainWindow window;
        child<QListWidget>(&window, "lw_sessions")->setCurrentRow(0);
        QString error;
        on_next_modal("dialog_suporte", [&](QWidget* d) {
            child<QLineEdit>(d, "le_senha")
                ->setText(desk_password(child<QLabel>(d, "l_codigo")->text()));
            dismiss_next_error(&window, &error); // if one comes up
            child<QPushButton>(d, "btn_ok")->click();
        });
        window.suporte_clicked();
        QCOMPARE(read_file(file), stored);
        QCOMPARE(error, decrypts ? QString() : QString("Erro ao executar a sessão"));
        QTRY_VERIFY_WITH_TIMEOUT(!kelvra::manager::instance().has_running(), 60000);
        QList<QStringList> const calls = take_recorded_calls(records_.path());
        QCOMPARE(calls.size(), decrypts ? 1 : 0);
        if (decrypts) {
            brano::core::v6::result::stack status;
            auto const launched = kelvra::crypto::decrypt_session_key(
                calls[0][3].toStdString(), identity_.key_for(self), status);
            QCOMPARE(launched.secret.to_string() + "|" + launched.command + "|" + launched.path,
                     std::string("s3nh@|/bin/bash|/srv/mirtel"));
        }
    }
};

KELVRA_INSTALLED_TEST_MAIN(tst_support)
#include "tst_support.moc"
