// A session made in the window with two of three CUPS printers, opened through the terminal
// program against sshd, asking the tunnel for them, then changed; and the program's refusals.
#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "support/cups_server.hpp"
#include "support/machine_identity.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"
#include "support/xvfb.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <functional>

using kelvra::testing::process_timeout_ms;
using kelvra::testing::read_file;

namespace {

template <class T = QWidget> T* child(QObject const* parent, char const* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Runs `act` on the next modal dialog once it is up.
void on_next_modal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* dialog = QApplication::activeModalWidget();
        dialog != nullptr ? act(dialog) : on_next_modal(act);
    });
}

// The sessions the window lists, then those of the tray's "Sessões" submenu.
QStringList listed(kelvra::ui::MainWindow const& window) {
    QStringList names;
    auto const* list = child<QListWidget>(&window, "lw_sessions");
    for (int i = 0; i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    names << QStringLiteral("|");
    for (QAction const* action : window.tray_menu()->actions().value(0)->menu()->actions()) {
        names << action->text();
    }
    return names;
}

// Which of `files` (folders searched through) and of all processes' command lines and
// environments hold `secret`.
QStringList holding(QByteArray const& secret, QStringList files) {
    for (QString const& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")})) {
        files << "/proc/" + pid + "/cmdline"
              << "/proc/" + pid + "/environ";
    }
    auto const found = kelvra::testing::run_program(
        QStringLiteral("grep"), QStringList{"-rlsF", "-D", "skip", "--", secret} + files);
    return QString::fromUtf8(found.out).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class tst_end_to_end : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::machine_identity identity_;
    kelvra::testing::cups_server cups_;
    kelvra::testing::sshd_server server_;
    QTemporaryDir server_side_;
    QString const libexec_ = QCoreApplication::applicationDirPath() + "/../libexec/";
    QString const password_ =
        QStringLiteral("Jornada 'senha' \"$(x)\" %1").arg(QRandomGenerator::global()->generate());

    // The terminal program's private folders (control channel, converted key).
    QStringList private_folders() const {
        return QDir(home_.runtime_dir())
            .entryList({QStringLiteral("kelvra-putty-*")}, QDir::AllEntries | QDir::Hidden);
    }

private slots:
    void initTestCase() {
        QString const reason = kelvra::testing::sshd_server::unavailable_reason();
        if (!reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        QString const taken = kelvra::testing::port_taken(59565); // the tunnel's fixed port
        QVERIFY2(taken.isEmpty(), qPrintable(taken));
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        for (char const* printer : {"caixa", "etiquetas", "fiscal"}) {
            QVERIFY2(cups_.add_printer(printer), qPrintable(cups_.error()));
        }
        QVERIFY(QDir().mkpath(libexec_));
        for (auto [from, to] : {std::pair{KELVRA_PUTTY, "putty"},
                                {KELVRA_ASKPASS, "kelvra-askpass"},
                                {KELVRA_SSH_RUNNER, "kelvra-ssh"}}) {
            QVERIFY(QFile::copy(from, libexec_ + to));
        }
        QString error;
        QVERIFY2(server_.start(password_.toUtf8(), error), qPrintable(error));
    }

    void create_open_change() {
        if (QStandardPaths::findExecutable(QStringLiteral("xterm")).isEmpty()) {
            QSKIP("xterm missing");
        }
        kelvra::testing::xvfb screen; // for the terminal window
        QVERIFY2(screen.is_ready(), qPrintable(screen.error()));
        qputenv("DISPLAY", screen.display().toUtf8());
        auto const no_display = qScopeGuard([] { qunsetenv("DISPLAY"); });

        // The folder needs quoting; the command (a plain name: shells are refused) reports, asks
        // the tunnel, then waits for a file for five minutes at most.
        QString const folder = server_side_.filePath(QStringLiteral("Produção 'pasta' $HOME"));
        QString const report = folder + QStringLiteral("/report");
        QVERIFY(QDir().mkpath(folder) && QFile::copy(KELVRA_PROBE, folder + "/probe"));
        QVERIFY(kelvra::testing::write_file(
            folder + "/jornada",
            "#!/bin/sh\n{ printf '%s\\n' \"$KELVRA_VERSION\" \"$KELVRA_CONNECTION_ID\"; "
            "stat -c '%a %U' \"/tmp/kelvra-$KELVRA_CONNECTION_ID\"; ./probe; echo $?; "
            "./probe --kind OpenUrlRequest; echo $?; } > report\n"
            "timeout 300 sh -c 'until [ -e fim ]; do sleep 0.1; done'\n"));
        QVERIFY(QFile::setPermissions(folder + "/jornada", QFile::ReadOwner | QFile::ExeOwner));
        auto const end_command =
            qScopeGuard([&] { kelvra::testing::write_file(folder + "/fim", {}); });

        kelvra::ui::MainWindow window;
        window.show();
        QString title;
        on_next_modal([&](QWidget* dialog) {
            title = dialog->windowTitle();
            for (auto [name, text] : {std::pair{"le_nome", QStringLiteral("Janela Kelvra")},
                                      {"le_host", QStringLiteral("127.0.0.1")},
                                      {"le_usuario", QStringLiteral("root")},
                                      {"le_caminho", folder},
                                      {"le_comando", QStringLiteral("./jornada")}}) {
                child<QLineEdit>(dialog, name)->setText(text);
            }
            child<QSpinBox>(dialog, "le_porta")->setValue(server_.port());
            child<QComboBox>(dialog, "cb_aut")->setCurrentIndex(0);
            QTest::keyClicks(child(dialog, "le_senha"), password_);
            auto* printers = child<QComboBox>(dialog, "cb_impressoras");
            for (char const* printer : {"caixa", "fiscal"}) {
                printers->setCurrentIndex(printers->findText(printer));
                child<QPushButton>(dialog, "btn_enable_disable")->click();
            }
            child<QLineEdit>(dialog, "le_nome_impressora")->setText("Cupom \"ECF\"");
            auto* type = child<QComboBox>(dialog, "cb_tipo_impressora");
            type->setCurrentIndex(type->findText("Epson TM-T20"));
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_novo")->click();
        QCOMPARE(title, QStringLiteral("Nova sessão"));
        QCOMPARE(listed(window), (QStringList{"Janela Kelvra", "|", "Janela Kelvra"}));

        // A double click opens it.
        auto* list = child<QListWidget>(&window, "lw_sessions");
        QPoint const item = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item);
        QTRY_VERIFY2_WITH_TIMEOUT(read_file(report).count('\n') == 7, read_file(report).constData(),
                                  process_timeout_ms);
        // While it is up, no process and no file of the user or the installation holds the
        // password.
        QStringList const leaks =
            holding(password_.toUtf8(), {home_.home(), home_.runtime_dir(), libexec_ + ".."});
        QStringList const windows = kelvra::testing::visible_windows("Janela Kelvra");
        QVERIFY(kelvra::testing::write_file(folder + "/fim", {}));
        QTRY_VERIFY_WITH_TIMEOUT(!kelvra::manager::instance().has_running(), process_timeout_ms);
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char(','))));
        QCOMPARE(windows.size(), 1);

        // The forward was its user's only, the tunnel answered through it, then the forward went.
        QList<QByteArray> lines = read_file(report).split('\n');
        QByteArray const id = lines.value(1);
        QVERIFY2(QRegularExpression(QStringLiteral("^7b[0-9a-f]{72}7d$"))
                     .match(QString::fromLatin1(id))
                     .hasMatch(),
                 id.constData());
        QByteArray const caixa = "{\"identificador\":\"caixa\",\"nome\":\"caixa\",\"tipo\":1}";
        QByteArray const fiscal =
            "{\"identificador\":\"fiscal\",\"nome\":\"Cupom \\\"ECF\\\"\",\"tipo\":11}";
        QByteArray const printers =
            lines.takeAt(3).replace(fiscal + ',' + caixa, caixa + ',' + fiscal);
        QCOMPARE(printers, "{\"connection_id\":\"" + id +
                               "\",\"kind\":\"PrinterListResponse\",\"printers\":[" + caixa + ',' +
                               fiscal + "],\"version\":1}");
        QCOMPARE(lines.join('\n'),
                 "1.3.3\n" + id + "\n600 root\n0\n{\"code\":7,\"connection_id\":\"" + id +
                     "\",\"kind\":\"Error\",\"message\":\"Requisição ainda não disponível em "
                     "sistemas Linux\",\"version\":1}\n1\n");
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/kelvra-") + id));
        // The private folder went too; the server is in the user's own known_hosts.
        QCOMPARE(private_folders(), QStringList());
        QVERIFY(read_file(home_.home() + QStringLiteral("/.ssh/known_hosts"))
                    .contains(server_.host_key_blob()));

        // Unlocked with today's settings password, "Alterar" renames it.
        on_next_modal([](QWidget* dialog) {
            QTest::keyClicks(child(dialog, "le_senha_configuracoes"),
                             QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_configuracoes")->click();
        on_next_modal([&](QWidget* dialog) {
            title = dialog->windowTitle();
            child<QLineEdit>(dialog, "le_nome")->setText(QStringLiteral("Balcão 2"));
            QTest::keyClicks(child(dialog, "le_senha"), password_); // never shown again
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_alterar")->click();
        QCOMPARE(title, QStringLiteral("Alterar sessão"));
        QCOMPARE(listed(window), (QStringList{"Balcão 2", "|", "Balcão 2"}));
        brano::core::v6::result::stack status;
        QVector<kelvra::session> const stored = kelvra::load_sessions(status);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].impressoras.size(), 2);

        // "Excluir" asks first; "Sim" empties the list, the tray and the store.
        on_next_modal([&](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            title = box->text();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == QStringLiteral("Sim")) {
                    button->click();
                }
            }
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
        child<QPushButton>(&window, "btn_excluir")->click();
        QCOMPARE(title, QStringLiteral("Tem certeza que deseja excluir a sessão 'Balcão 2' ?"));
        QCOMPARE(listed(window), QStringList{QStringLiteral("|")});
        QVERIFY(kelvra::load_sessions(status).isEmpty() && !status.has_failed());
    }

    // The terminal program as the launcher starts it: 1 and why before ssh, 255 from ssh; the
    // command never runs, and the private folder (with a converted key) always goes.
    void refused_connections_data() {
        QTest::addColumn<QString>("credential"); // -pw or -i
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("forward_blocked");
        QTest::addColumn<int>("exit_status");
        QTest::addColumn<QByteArray>("report");
        QString const damaged = server_side_.filePath(QStringLiteral("damaged.ppk"));
        QVERIFY(kelvra::testing::write_file(damaged, "PuTTY-User-Key-File-3: ssh-ed25519\nx\n"));
        auto row = [](char const* tag, QString const& credential, QString const& secret,
                      bool blocked, int exit_status, QByteArray const& report) {
            QTest::newRow(tag) << credential << secret << blocked << exit_status << report;
        };
        row("key file missing", "-i", "/nonexistent/key", false, 1,
            "kelvra-terminal: O arquivo de chave privada não pode ser lido\n");
        row("damaged PuTTY key", "-i", damaged, false, 1,
            "kelvra-terminal: Não foi possível converter a chave privada do formato PuTTY\n");
        row("wrong password", "-pw", "not the password", false, 255, "");
        // ssh gives up instead of running the command without a way back.
        row("forward refused on the server, PuTTY key", "-i", server_.client_ppk(), true, 255, "");
    }

    void refused_connections() {
        QFETCH(QString, credential);
        QFETCH(QString, secret);
        QFETCH(bool, forward_blocked);
        QFETCH(int, exit_status);
        QFETCH(QByteArray, report);
        QString const name = QString::fromLatin1(QTest::currentDataTag());
        QString const id = kelvra::manager::new_connection_id();
        kelvra::connection c;
        c.name = name;
        c.host = QStringLiteral("127.0.0.1");
        c.port = server_.port();
        c.user = QStringLiteral("root");
        brano::core::v6::result::stack status;
        kelvra::write_putty_profile(kelvra::putty_session_path(name), c, id, status);
        QVERIFY(!status.has_failed());
        // A folder where the server would put the forward's socket.
        QString const blocker = QStringLiteral("/tmp/kelvra-") + id;
        QVERIFY(!forward_blocked || QDir().mkpath(blocker + QStringLiteral("/x")));
        QTemporaryDir work;
        QStringList const before = private_folders();
        QString const putty = libexec_ + "putty";
        auto const f = kelvra::testing::run_program(
            putty, {"-load", name, credential,
                    kelvra::testing::machine_identity::session_key_text(
                        putty, secret.toUtf8(), QStringLiteral("touch ran"), work.path(), true),
                    "-R", "kelvra:127.0.0.1:59565"});
        QDir(blocker).removeRecursively();
        QCOMPARE(f.code, exit_status);
        QVERIFY2(f.err.contains(report), f.err.constData());
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("ran"))));
        QCOMPARE(private_folders(), before);
    }
};

int main(int argc, char** argv) {
    if (!kelvra::testing::in_installation()) {
        QCoreApplication probe(argc, argv);
        return kelvra::testing::run_installed(QStringLiteral("bin/tst_end_to_end"));
    }
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    tst_end_to_end test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_end_to_end.moc"
