// The support mode offscreen, from a temporary installation (the test program
// copies itself into one): the dialog opens only with the desk tool's answer
// to the code it shows, its code runs out and is replaced, and "Suporte" in
// the window launches the session with a shell through the recording
// terminal program.
#include "core/installation_config.hpp"
#include "crypto/session_key.hpp"
#include "interface/resources.hpp"
#include "interface/support/dialog_suporte.hpp"
#include "interface/ui/main_window.hpp"
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QApplication>
#include <QClipboard>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace core = brano::core::v6;
using kelvra::interface::support::dialog_suporte;

namespace {

constexpr qint64 client_code = 4294968297; // above 32 bits

template <class T> T* child(QObject* parent, char const* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

// Runs `step` on the modal window of type T once it is up, unless `context`
// has gone by then.
template <class T> void on_next(QObject* context, std::function<void(T*)> step) {
    QTimer::singleShot(0, context, [context, step] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            return step(window);
        }
        on_next<T>(context, step);
    });
}

void dismiss_next_error(QObject* context, QString* text) {
    on_next<QMessageBox>(context, [text](QMessageBox* box) {
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

QString desk_password(QString const& code) {
    return QString::fromUtf8(kelvra::testing::run_program(QStringLiteral(KELVRA_SENHA_SUPORTE),
                                                          {code, QString::number(client_code)})
                                 .out)
        .trimmed();
}

} // namespace

class tst_support : public QObject {
    Q_OBJECT

    QString const root_ = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    std::unique_ptr<kelvra::testing::machine_identity> identity_;
    kelvra::testing::isolated_home home_;
    QTemporaryDir records_;

private slots:
    void initTestCase() {
        identity_ = std::make_unique<kelvra::testing::machine_identity>();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_RECORDING_PUTTY),
                            root_ + QStringLiteral("/libexec/putty")));
        QVERIFY(kelvra::testing::write_file(
            root_ + QStringLiteral("/etc/config.json"),
            R"({"codigo": 4294968297, "nomeFantasia": "Padaria e Confeitaria São João da Serra"})"));
    }

    // The desk's answer is the only text that opens the dialog; a refused one
    // leaves it open with its code.
    void password_check_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("renew_first");
        QTest::newRow("desk answer") << QStringLiteral("%1") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("surrounding blanks") << QStringLiteral(" %1 ") << false;
        QTest::newRow("answer to the replaced code") << QStringLiteral("%1") << true;
    }

    void password_check() {
        QFETCH(QString, typed);
        QFETCH(bool, renew_first);
        bool const accepted = typed == QStringLiteral("%1") && !renew_first;
        dialog_suporte dialog;
        QString error, shown, left_open_with;
        on_next<dialog_suporte>(&dialog, [&](dialog_suporte* d) {
            shown = child<QLabel>(d, "l_codigo")->text();
            QString const answer = desk_password(shown);
            if (renew_first) {
                auto* animation = d->findChild<QPropertyAnimation*>();
                animation->setCurrentTime(animation->duration());
            }
            child<QLineEdit>(d, "le_senha")->setText(typed.replace(QStringLiteral("%1"), answer));
            if (!accepted) {
                dismiss_next_error(&dialog, &error);
            }
            child<QPushButton>(d, "btn_ok")->click();
            if (d->isVisible()) {
                left_open_with = child<QLabel>(d, "l_codigo")->text();
                child<QPushButton>(d, "btn_cancelar")->click();
            }
        });
        QCOMPARE(dialog.exec(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(shown.size(), 12);
        QCOMPARE(error, accepted ? QString() : QStringLiteral("Senha invalida"));
        QCOMPARE(left_open_with.isEmpty(), accepted);
        if (!accepted) {
            QCOMPARE(left_open_with == shown, !renew_first);
        }
    }

    // The client data, the copy button, the bar turning red after 143999 and
    // the new code when it runs out; no close button.
    void code_runs_out_and_is_replaced() {
        dialog_suporte dialog;
        QStringList styles;
        QString client, first, copied, renewed;
        bool running = false, uncut = true;
        on_next<dialog_suporte>(&dialog, [&](dialog_suporte* d) {
            client = child<QLabel>(d, "l_codigo_cliente")->text() + QLatin1Char('|') +
                     child<QLabel>(d, "l_nome_fantasia")->text();
            for (auto* label : {child<QLabel>(d, "label_2"), child<QLabel>(d, "l_nome_fantasia")}) {
                uncut = uncut && label->width() >= label->sizeHint().width();
            }
            first = child<QLabel>(d, "l_codigo")->text();
            child<QPushButton>(d, "btn_copiar_codigo")->click();
            copied = QGuiApplication::clipboard()->text();
            auto* animation = d->findChild<QPropertyAnimation*>();
            for (int at : {143999, 144000, 180000}) {
                animation->setCurrentTime(at);
                styles << child<QProgressBar>(d, "progressBar")->styleSheet();
            }
            renewed = child<QLabel>(d, "l_codigo")->text();
            running = animation->state() == QAbstractAnimation::Running;
            d->reject();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(client, QStringLiteral("4294968297|Padaria e Confeitaria São João da Serra"));
        QVERIFY(uncut);
        QCOMPARE(copied, first);
        QCOMPARE(styles, (QStringList{"QProgressBar::chunk {background-color: green}",
                                      "QProgressBar::chunk {background-color: red}",
                                      "QProgressBar::chunk {background-color: green}"}));
        QVERIFY(renewed != first && !desk_password(renewed).isEmpty());
        QVERIFY(running);
    }

    void missing_client_data_shows_no_dialog() {
        QTemporaryDir elsewhere;
        auto const config = kelvra::installation_config::load(elsewhere.filePath("bin"));
        dialog_suporte dialog(nullptr, &config);
        QString error;
        bool shown = false;
        on_next<QMessageBox>(&dialog, [&](QMessageBox* box) {
            error = box->text();
            box->button(QMessageBox::Ok)->click();
            // Runs only if the dialog comes up after all.
            QTimer::singleShot(0, &dialog, [&] {
                shown = dialog.isVisible();
                dialog.reject();
            });
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(error, QStringLiteral("Erro ao obter codigo do cliente"));
        QVERIFY(!shown);
    }

    // "Suporte" on a session: its secret and path under a shell command; the
    // stored file stays as it was.
    void support_launch_data() {
        QTest::addColumn<int>("auth");
        QTest::addColumn<QByteArray>("device_key"); // empty: this installation's
        QTest::addColumn<QString>("flag");
        QTest::newRow("password") << 0 << QByteArray() << QStringLiteral("-pw");
        QTest::newRow("key file") << 1 << QByteArray() << QStringLiteral("-i");
        QTest::newRow("sealed by another installation") << 0 << QByteArray("other") << QString();
    }

    void support_launch() {
        QFETCH(int, auth);
        QFETCH(QByteArray, device_key);
        QFETCH(QString, flag);
        core::byte_array const own =
            kelvra::testing::machine_identity::key_for(QCoreApplication::applicationFilePath());
        kelvra::crypto::session_key sealed;
        sealed.device_key = device_key.isEmpty() ? own : core::byte_array(device_key.toStdString());
        sealed.secret = core::byte_array(std::string("s3nh@"));
        sealed.command = "menu";
        sealed.path = "/srv/mirtel";
        std::string text;
        for (bool done = false; !done;) {
            // Now and then a text of another installation passes the padding
            // check here and decrypts to noise: take one that is refused.
            core::result::stack status;
            text = kelvra::crypto::encrypt_session_key(sealed, status);
            kelvra::crypto::decrypt_session_key(text, own, status);
            done = device_key.isEmpty() || status.has_failed();
        }
        QString const file =
            root_ + QStringLiteral("/var/sessions/{5e551000-0000-4000-8000-000000000001}.json");
        QByteArray const stored = QJsonDocument(QJsonObject{{"versao", 2},
                                                            {"nome", "Vendas"},
                                                            {"host", "mirtel"},
                                                            {"porta", 22},
                                                            {"usuario", "op"},
                                                            {"key", QString::fromStdString(text)},
                                                            {"caminho", "/srv/mirtel"},
                                                            {"comando", "menu"},
                                                            {"tipo_autenticacao", auth},
                                                            {"autostart", false},
                                                            {"maximized", false}})
                                      .toJson();
        QVERIFY(kelvra::testing::write_file(file, stored));

        kelvra::ui::MainWindow window;
        window.show();
        child<QListWidget>(&window, "lw_sessions")->setCurrentRow(0);
        on_next<dialog_suporte>(&window, [](dialog_suporte* d) {
            child<QLineEdit>(d, "le_senha")
                ->setText(desk_password(child<QLabel>(d, "l_codigo")->text()));
            child<QPushButton>(d, "btn_ok")->click();
        });
        QString error;
        if (flag.isEmpty()) {
            dismiss_next_error(&window, &error);
        }
        window.suporte_clicked();
        QCOMPARE(kelvra::testing::read_file(file), stored);
        QVERIFY(QFile::remove(file));
        if (flag.isEmpty()) {
            QCOMPARE(error, QStringLiteral("Erro ao executar a sessão"));
            QVERIFY(!kelvra::testing::has_recorded_calls(records_.path()));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(kelvra::testing::has_recorded_calls(records_.path()), 30000);
        QStringList const call = kelvra::testing::take_recorded_calls(records_.path()).first();
        QCOMPARE(call.mid(0, 3), (QStringList{"-load", "Vendas", flag}));
        core::result::stack status;
        auto const launched =
            kelvra::crypto::decrypt_session_key(call[3].toStdString(), own, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(launched.secret.to_string(), std::string("s3nh@"));
        QCOMPARE(launched.command, std::string("/bin/bash"));
        QCOMPARE(launched.path, std::string("/srv/mirtel"));
    }
};

int main(int argc, char** argv) {
    if (!kelvra::testing::in_installation()) {
        QCoreApplication probe(argc, argv);
        return kelvra::testing::run_installed(QStringLiteral("bin/tst_support"));
    }
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    tst_support test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_support.moc"
