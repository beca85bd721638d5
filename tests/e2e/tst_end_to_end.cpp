// Kelvra end to end: a temporary installation with the real bin/kelvra and
// libexec/putty, an isolated home, a private system bus for the
// installation identity, and OpenSSH's sshd on a loopback port. The saved
// session's command runs kelvra-probe on the server, which reaches Kelvra's
// tunnel through the forward the terminal program opened.
#include "crypto/session_key.hpp"
#include "sessions/session_store.hpp"
#include "support/machine_identity.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace core = brano::core::v6;
using kelvra::testing::sshd_server;

namespace {

constexpr int timeout_ms = 60000;

QByteArray read_file(QString const& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject read_json(QString const& path) {
    return QJsonDocument::fromJson(read_file(path)).object();
}

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
    for (QString const& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.at(0).isDigit()) {
            files << QStringLiteral("/proc/%1/cmdline").arg(pid)
                  << QStringLiteral("/proc/%1/environ").arg(pid);
        }
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

    std::unique_ptr<kelvra::testing::isolated_home> home_;
    std::unique_ptr<kelvra::testing::install_root> root_;
    std::unique_ptr<kelvra::testing::machine_identity> identity_;
    std::unique_ptr<sshd_server> key_server_;
    std::unique_ptr<sshd_server> password_server_;
    std::unique_ptr<QTemporaryDir> server_side_;
    QByteArray const password_ = "E2e pass 'quoted' \"double\" $(x) " +
                                 QByteArray::number(QRandomGenerator::global()->generate());

    QString kelvra() const { return root_->file(QStringLiteral("bin/kelvra")); }

private slots:
    void initTestCase() {
        QString const reason = sshd_server::unavailable_reason();
        if (!reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        home_ = std::make_unique<kelvra::testing::isolated_home>();
        root_ = std::make_unique<kelvra::testing::install_root>();
        server_side_ = std::make_unique<QTemporaryDir>();
        identity_ = std::make_unique<kelvra::testing::machine_identity>();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        for (auto const& [from, to] : {std::pair{KELVRA_EXECUTABLE, "bin/kelvra"},
                                       {KELVRA_PUTTY, "libexec/putty"},
                                       {KELVRA_ASKPASS, "libexec/kelvra-askpass"},
                                       {KELVRA_SSH_RUNNER, "libexec/kelvra-ssh"},
                                       {KELVRA_PROBE, "libexec/kelvra-probe"}}) {
            QVERIFY(QFile::copy(QString::fromLatin1(from), root_->file(QString::fromLatin1(to))));
        }
        QString error;
        key_server_ = std::make_unique<sshd_server>();
        QVERIFY2(key_server_->start(sshd_server::login::key, {}, error), qPrintable(error));
        password_server_ = std::make_unique<sshd_server>();
        QVERIFY2(password_server_->start(sshd_server::login::password, password_, error),
                 qPrintable(error));
    }

    void sessions_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("window");
        QTest::newRow("PuTTY key file") << QStringLiteral("Produção chave") << false << false;
        QTest::newRow("password") << QStringLiteral("Produção senha") << true << false;
        QTest::newRow("OpenSSH key file, terminal window")
            << QStringLiteral("Janela Kelvra") << false << true;
    }

    void sessions() {
        QFETCH(QString, name);
        QFETCH(bool, password);
        QFETCH(bool, window);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QProcess xvfb;
        if (window) {
            for (auto const* program : {"Xvfb", "xwininfo", "xterm"}) {
                if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                    QSKIP("Xvfb, xwininfo or xterm missing");
                }
            }
            xvfb.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning,
                                     timeout_ms);
            environment.insert(QStringLiteral("DISPLAY"),
                               QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed()));
        }

        // The session starts in a folder whose name needs quoting; its
        // command reports what it got, asks Kelvra for the printers and for
        // something Kelvra does not serve on Linux, then waits on a fifo.
        QString const folder = server_side_->filePath(name + QStringLiteral(" 'pasta' $HOME"));
        QString const fifo = folder + QStringLiteral("/fim");
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QString const probe = root_->file(QStringLiteral("libexec/kelvra-probe"));
        sshd_server const& server = password ? *password_server_ : *key_server_;
        kelvra::crypto::session_key key;
        key.device_key = kelvra::testing::machine_identity::key_for(kelvra());
        key.secret = core::byte_array(
            (password ? password_ : (window ? server.client_key() : server.client_ppk()).toUtf8())
                .toStdString());
        key.command =
            (QStringLiteral("printf %s \"$KELVRA_VERSION\" > version.txt; "
                            "printf %s \"$KELVRA_CONNECTION_ID\" > id.txt; "
                            "stat -c '%a %U' \"/tmp/kelvra-$KELVRA_CONNECTION_ID\" > "
                            "socket.txt; ") +
             probe + QStringLiteral(" > printers.json; echo $? > printers.status; ") + probe +
             QStringLiteral(" --kind OpenUrlRequest > url.json; echo $? > url.status; "
                            "cat fim > /dev/null"))
                .toStdString();
        key.path = folder.toStdString();
        core::result::stack status;
        kelvra::session s;
        s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        s.nome = name;
        s.host = QStringLiteral("127.0.0.1");
        s.porta = server.port();
        s.usuario = QStringLiteral("root");
        s.tipo_autenticacao = password ? kelvra::authentication_type::password
                                       : kelvra::authentication_type::key_file;
        s.key = QString::fromStdString(kelvra::crypto::encrypt_session_key(key, status));
        s.impressoras = {{QStringLiteral("balcao-01"), QStringLiteral("Balcão"), 1},
                         {QStringLiteral("fiscal"), QStringLiteral("Cupom fiscal \"ECF\""), 3}};
        kelvra::detail::session_store(root_->bin()).save_session(s, status);
        QVERIFY2(!status.has_failed(), status.get_message().c_str());

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(kelvra(), {QStringLiteral("--load"), name});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/url.status")) ||
                                     process.state() == QProcess::NotRunning,
                                 timeout_ms);
        QCOMPARE(process.state(), QProcess::Running);
        // While the connection is up, nothing any process shows, and no file
        // of the user or the installation, holds the password.
        QStringList const leaks =
            password ? holding(password_, {home_->home(), home_->runtime_dir(), root_->path()})
                     : QStringList();
        QByteArray tree;
        if (window) {
            QProcess windows;
            windows.setProcessEnvironment(environment);
            windows.start(QStringLiteral("xwininfo"),
                          {QStringLiteral("-root"), QStringLiteral("-tree")});
            QVERIFY(windows.waitForFinished(timeout_ms));
            tree = windows.readAllStandardOutput();
        }
        // Lets the command end: the fifo opens once the command reads it.
        // QTRY evaluates its condition again after success: open only once.
        bool released = false;
        auto const release = [&] {
            int const fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            return fd >= 0 && ::close(fd) == 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(released || (released = release()), timeout_ms);
        QVERIFY(process.waitForFinished(timeout_ms));
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char(','))));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        if (window) {
            xvfb.terminate();
            xvfb.waitForFinished(timeout_ms);
            QVERIFY2(tree.contains("\"Janela Kelvra\""), tree.constData());
        }

        QCOMPARE(read_file(folder + QStringLiteral("/version.txt")), QByteArray("1.3.3"));
        QString const id = QString::fromLatin1(read_file(folder + QStringLiteral("/id.txt")));
        QVERIFY2(QRegularExpression(QStringLiteral("^7b[0-9a-f]{72}7d$")).match(id).hasMatch(),
                 qPrintable(id));
        // The forward listened for its user only, and went with the command.
        QCOMPARE(read_file(folder + QStringLiteral("/socket.txt")), QByteArray("600 root\n"));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/kelvra-") + id));
        // The private folder (converted key, control channel) went too, and
        // the server is remembered in the user's own known_hosts.
        QCOMPARE(
            QDir(home_->runtime_dir())
                .entryList({QStringLiteral("kelvra-putty-*")}, QDir::AllEntries | QDir::Hidden),
            QStringList());
        QVERIFY(read_file(home_->home() + QStringLiteral("/.ssh/known_hosts"))
                    .contains(server.host_key_blob()));

        QCOMPARE(read_file(folder + QStringLiteral("/printers.status")), QByteArray("0\n"));
        QCOMPARE(
            read_json(folder + QStringLiteral("/printers.json")),
            QJsonDocument::fromJson(
                "{\"connection_id\":\"" + id.toLatin1() +
                "\",\"kind\":\"PrinterListResponse\",\"version\":1,\"printers\":["
                "{\"identificador\":\"balcao-01\",\"nome\":\"Balcão\",\"tipo\":1},"
                "{\"identificador\":\"fiscal\",\"nome\":\"Cupom fiscal \\\"ECF\\\"\",\"tipo\":3}]}")
                .object());
        QCOMPARE(read_file(folder + QStringLiteral("/url.status")), QByteArray("1\n"));
        QCOMPARE(read_json(folder + QStringLiteral("/url.json")),
                 QJsonDocument::fromJson(
                     "{\"code\":7,\"connection_id\":\"" + id.toLatin1() +
                     "\",\"kind\":\"Error\",\"version\":1,"
                     "\"message\":\"Requisição ainda não disponível em sistemas Linux\"}")
                     .object());
    }
};

QTEST_GUILESS_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
