// Kelvra against OpenSSH's sshd on loopback, from a temporary installation
// of the real programs: one journey from `kelvra --load` to the probe on the
// server reaching Kelvra's tunnel through the forward, and the ways the
// terminal program refuses a connection.
#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace core = brano::core::v6;
using kelvra::testing::process_timeout_ms;
using kelvra::testing::read_file;

namespace {

// The files below `folders`, and the command lines and environments of all
// processes, that hold `secret`.
QStringList holding(QByteArray const& secret, QStringList const& folders) {
    QStringList files;
    for (QString const& folder : folders) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            files << it.next();
        }
    }
    for (QString const& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")})) {
        files << QStringLiteral("/proc/%1/cmdline").arg(pid)
              << QStringLiteral("/proc/%1/environ").arg(pid);
    }
    QStringList found;
    for (QString const& file : files) {
        if (read_file(file).contains(secret)) {
            found << file;
        }
    }
    return found;
}

} // namespace

class tst_end_to_end : public QObject {
    Q_OBJECT

    kelvra::testing::kelvra_installation installed_{KELVRA_EXECUTABLE, KELVRA_PUTTY};
    kelvra::testing::isolated_home const& home_ = installed_.home;
    kelvra::testing::install_root const& root_ = installed_.root;
    kelvra::testing::sshd_server server_;
    QTemporaryDir server_side_;
    QByteArray const password_ = "E2e pass 'quoted' \"double\" $(x) " +
                                 QByteArray::number(QRandomGenerator::global()->generate());

    QString kelvra() const { return installed_.kelvra(); }
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
        QString error = installed_.error();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (auto const& [from, to] : {std::pair{KELVRA_ASKPASS, "libexec/kelvra-askpass"},
                                       {KELVRA_SSH_RUNNER, "libexec/kelvra-ssh"},
                                       {KELVRA_PROBE, "libexec/kelvra-probe"}}) {
            QVERIFY(root_.install(QString::fromLatin1(from), QString::fromLatin1(to)));
        }
        QVERIFY2(server_.start(password_, error), qPrintable(error));
    }

    // A password session in a terminal window. Its folder needs quoting; its
    // command reports what it got, asks Kelvra for the printers and for
    // something Kelvra does not serve on Linux, then waits on a fifo (five
    // minutes at most, should the test fail first).
    void journey() {
        for (auto const* program : {"Xvfb", "xwininfo", "xterm"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                QSKIP("Xvfb, xwininfo or xterm missing");
            }
        }
        QProcess xvfb;
        auto const stop = qScopeGuard([&] {
            kelvra::testing::stop_process(xvfb);
            qunsetenv("DISPLAY");
        });
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
        auto const display = kelvra::testing::wait_for_line(xvfb);
        QVERIFY(display);
        qputenv("DISPLAY", ':' + *display); // for Kelvra and the window list

        QString const folder = server_side_.filePath(QStringLiteral("Produção 'pasta' $HOME"));
        QString const fifo = folder + QStringLiteral("/fim");
        QString const report = folder + QStringLiteral("/report");
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QString const probe = root_.file(QStringLiteral("libexec/kelvra-probe"));
        kelvra::session s;
        s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        s.nome = QStringLiteral("Janela Kelvra");
        s.host = QStringLiteral("127.0.0.1");
        s.porta = server_.port();
        s.usuario = QStringLiteral("root");
        s.key = kelvra::testing::machine_identity::session_key_text(
            kelvra(), password_,
            QStringLiteral(
                "{ printf '%s\\n' \"$KELVRA_VERSION\" \"$KELVRA_CONNECTION_ID\"; "
                "stat -c '%a %U' \"/tmp/kelvra-$KELVRA_CONNECTION_ID\"; %1; echo $?; "
                "%1 --kind OpenUrlRequest; echo $?; } > report; timeout 300 cat fim > /dev/null")
                .arg(probe),
            folder);
        s.impressoras = {{QStringLiteral("balcao-01"), QStringLiteral("Balcão"), 1},
                         {QStringLiteral("fiscal"), QStringLiteral("Cupom fiscal \"ECF\""), 3}};
        QVERIFY(root_.save(s));

        // Lets the command end, on every way out of here: the fifo opens once
        // the command reads it. QTRY evaluates its condition again after
        // success, so it is opened only once.
        bool released = false;
        auto const release = [&] {
            int const fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            return fd >= 0 && ::close(fd) == 0;
        };
        auto const end_command = qScopeGuard([&] { released = released || release(); });
        QProcess process;
        process.start(kelvra(), {QStringLiteral("--load"), s.nome});
        QTRY_VERIFY2_WITH_TIMEOUT(read_file(report).count('\n') == 7,
                                  (process.readAllStandardError() + read_file(report)).constData(),
                                  process_timeout_ms);
        // While the connection is up, nothing any process shows, and no file
        // of the user or the installation, holds the password.
        QStringList const leaks =
            holding(password_, {home_.home(), home_.runtime_dir(), root_.path()});
        QByteArray const tree =
            kelvra::testing::run_program(QStringLiteral("xwininfo"), {"-root", "-tree"}).out;
        QTRY_VERIFY_WITH_TIMEOUT(released || (released = release()), process_timeout_ms);
        QVERIFY(process.waitForFinished(process_timeout_ms));
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char(','))));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QVERIFY2(tree.contains("\"Janela Kelvra\""), tree.constData());

        // The forward listened for its user only, the tunnel answered through
        // it, and the forward went with the command.
        QByteArray const id = read_file(report).split('\n').value(1);
        QVERIFY2(QRegularExpression(QStringLiteral("^7b[0-9a-f]{72}7d$"))
                     .match(QString::fromLatin1(id))
                     .hasMatch(),
                 id.constData());
        QCOMPARE(read_file(report),
                 "1.3.3\n" + id + "\n600 root\n{\"connection_id\":\"" + id +
                     "\",\"kind\":\"PrinterListResponse\",\"printers\":[{\"identificador\":"
                     "\"balcao-01\",\"nome\":\"Balcão\",\"tipo\":1},{\"identificador\":\"fiscal\","
                     "\"nome\":\"Cupom fiscal \\\"ECF\\\"\",\"tipo\":3}],\"version\":1}\n0\n"
                     "{\"code\":7,\"connection_id\":\"" +
                     id +
                     "\",\"kind\":\"Error\",\"message\":\"Requisição ainda não disponível em "
                     "sistemas Linux\",\"version\":1}\n1\n");
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/kelvra-") + id));
        // The private folder (control channel) went too, and the server is
        // remembered in the user's own known_hosts.
        QCOMPARE(private_folders(), QStringList());
        QVERIFY(read_file(home_.home() + QStringLiteral("/.ssh/known_hosts"))
                    .contains(server_.host_key_blob()));
    }

    // The installation's terminal program on its own, as the launcher starts
    // it. A failure before ssh exits with 1 and says why; 255 is ssh's own.
    // The command never runs, and the private folder (with a converted
    // PuTTY key) goes in every case.
    void refused_connections_data() {
        QTest::addColumn<QString>("credential"); // -pw or -i
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("forward_blocked");
        QTest::addColumn<int>("exit_status");
        QTest::addColumn<QByteArray>("report");
        QString const damaged = server_side_.filePath(QStringLiteral("damaged.ppk"));
        QVERIFY(kelvra::testing::write_file(damaged, "PuTTY-User-Key-File-3: ssh-ed25519\nx\n"));
        QTest::newRow("key file missing")
            << "-i"
            << "/nonexistent/key" << false << 1
            << QByteArray("kelvra-terminal: O arquivo de chave privada não pode ser lido\n");
        QTest::newRow("damaged PuTTY key")
            << "-i" << damaged << false << 1
            << QByteArray("kelvra-terminal: Não foi possível converter a chave privada do formato "
                          "PuTTY\n");
        QTest::newRow("wrong password") << "-pw"
                                        << "not the password" << false << 255 << QByteArray();
        // ssh gives up instead of running the command without a way back.
        QTest::newRow("forward refused on the server, PuTTY key")
            << "-i" << server_.client_ppk() << true << 255 << QByteArray();
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
        core::result::stack status;
        kelvra::write_putty_profile(kelvra::putty_session_path(name), c, id, status);
        QVERIFY(!status.has_failed());
        // A folder where the server would put the forward's socket.
        QString const blocker = QStringLiteral("/tmp/kelvra-") + id;
        QVERIFY(!forward_blocked || QDir().mkpath(blocker + QStringLiteral("/x")));
        QTemporaryDir work;
        QStringList const before = private_folders();
        QString const putty = root_.file(QStringLiteral("libexec/putty"));
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

QTEST_GUILESS_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
