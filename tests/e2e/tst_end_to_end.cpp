// Kelvra end to end: a temporary installation with the real bin/kelvra and
// libexec/putty, an isolated home, a private system bus for the
// installation identity, and OpenSSH's sshd on a loopback port. The saved
// session's command runs kelvra-probe on the server, which reaches Kelvra's
// tunnel through the forward the terminal program opened.
#include "connections/putty_profile.hpp"
#include "crypto/session_key.hpp"
#include "sessions/session_store.hpp"
#include "support/machine_identity.hpp"
#include "support/process_scan.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <QDir>
#include <QFile>
#include <QJsonArray>
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

constexpr int connection_timeout_ms = 60000;

QByteArray read_file(QString const& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QVector<kelvra::printer> const printers{
    {QStringLiteral("balcao-01"), QStringLiteral("Balcão"), 1},
    {QStringLiteral("fiscal"), QStringLiteral("Cupom fiscal \"ECF\""), 3},
};

// Lets a remote command that waits on `fifo` go on; false while nothing
// reads it yet.
bool release(QString const& fifo) {
    int const fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
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
    QString probe() const { return root_->file(QStringLiteral("libexec/kelvra-probe")); }

    // The folder the session starts in on the server: its name needs quoting.
    QString session_folder(QString const& name) {
        QString const path = server_side_->filePath(name + QStringLiteral(" 'pasta' $HOME"));
        QDir().mkpath(path);
        return path;
    }

    // The session's command: environment, printer list, a request Kelvra
    // does not serve on Linux; then it waits on the fifo "fim" if asked.
    QString command(bool wait) const {
        QString const p = probe();
        QString text = QStringLiteral("printf %s \"$KELVRA_VERSION\" > version.txt; "
                                      "printf %s \"$KELVRA_CONNECTION_ID\" > id.txt; ") +
                       p + QStringLiteral(" > printers.json; echo $? > printers.status; ") + p +
                       QStringLiteral(" --kind OpenUrlRequest > url.json; echo $? > url.status");
        if (wait) {
            text += QStringLiteral("; cat fim > /dev/null");
        }
        return text;
    }

    void save(QString const& name, kelvra::authentication_type auth, quint16 port,
              QByteArray const& secret, QString const& folder, bool wait) {
        kelvra::crypto::session_key key;
        key.device_key = kelvra::testing::machine_identity::key_for(kelvra());
        key.secret = core::byte_array(secret.toStdString());
        key.command = command(wait).toStdString();
        key.path = folder.toStdString();
        core::result::stack status;
        kelvra::session s;
        s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        s.nome = name;
        s.host = QStringLiteral("127.0.0.1");
        s.porta = port;
        s.usuario = QStringLiteral("root");
        s.tipo_autenticacao = auth;
        s.key = QString::fromStdString(kelvra::crypto::encrypt_session_key(key, status));
        s.impressoras = printers;
        QVERIFY(!status.has_failed());
        kelvra::detail::session_store(root_->bin()).save_session(s, status);
        QVERIFY2(!status.has_failed(), status.get_message().c_str());
    }

    // What the server side received and answered, checked against the session.
    void check_server_side(QString const& name, QString const& folder) {
        QCOMPARE(read_file(folder + QStringLiteral("/version.txt")), QByteArray("1.3.3"));
        QByteArray const id = read_file(folder + QStringLiteral("/id.txt"));
        QVERIFY(QRegularExpression(QStringLiteral("^7b[0-9a-f]{72}7d$"))
                    .match(QString::fromLatin1(id))
                    .hasMatch());
        QVERIFY(read_file(kelvra::putty_session_path(name))
                    .contains("Environment=KELVRA_CONNECTION_ID=" + id + ",KELVRA_VERSION=1.3.3"));

        // The forward's socket on the server went with the connection.
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/kelvra-") + QString::fromLatin1(id)));

        QCOMPARE(read_file(folder + QStringLiteral("/printers.status")), QByteArray("0\n"));
        QJsonObject const reply =
            QJsonDocument::fromJson(read_file(folder + QStringLiteral("/printers.json"))).object();
        QCOMPARE(reply.value(QStringLiteral("kind")).toString(),
                 QStringLiteral("PrinterListResponse"));
        QCOMPARE(reply.value(QStringLiteral("connection_id")).toString().toLatin1(), id);
        QJsonArray const listed = reply.value(QStringLiteral("printers")).toArray();
        QCOMPARE(listed.size(), printers.size());
        for (int i = 0; i < printers.size(); ++i) {
            QJsonObject const p = listed[i].toObject();
            QCOMPARE(p.value(QStringLiteral("identificador")).toString(),
                     printers[i].identificador);
            QCOMPARE(p.value(QStringLiteral("nome")).toString(), printers[i].nome);
            QCOMPARE(p.value(QStringLiteral("tipo")).toInt(), printers[i].tipo);
        }

        QCOMPARE(read_file(folder + QStringLiteral("/url.status")), QByteArray("1\n"));
        QJsonObject const error =
            QJsonDocument::fromJson(read_file(folder + QStringLiteral("/url.json"))).object();
        QCOMPARE(error.value(QStringLiteral("kind")).toString(), QStringLiteral("Error"));
        QCOMPARE(error.value(QStringLiteral("code")).toInt(), 7);
        QCOMPARE(error.value(QStringLiteral("message")).toString(),
                 QStringLiteral("Requisição ainda não disponível em sistemas Linux"));
        QCOMPARE(error.value(QStringLiteral("connection_id")).toString().toLatin1(), id);
    }

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

        QVERIFY(QFile::copy(QStringLiteral(KELVRA_EXECUTABLE), kelvra()));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_PUTTY),
                            root_->file(QStringLiteral("libexec/putty"))));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_ASKPASS),
                            root_->file(QStringLiteral("libexec/kelvra-askpass"))));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_SSH_RUNNER),
                            root_->file(QStringLiteral("libexec/kelvra-ssh"))));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_PROBE), probe()));
        QVERIFY(!kelvra::testing::machine_identity::key_for(kelvra()).empty());

        QString error;
        key_server_ = std::make_unique<sshd_server>();
        QVERIFY2(key_server_->start(sshd_server::login::key, {}, error), qPrintable(error));
        password_server_ = std::make_unique<sshd_server>();
        QVERIFY2(password_server_->start(sshd_server::login::password, password_, error),
                 qPrintable(error));
    }

    void key_file_session() {
        QString const name = QStringLiteral("Produção chave");
        QString const folder = session_folder(QStringLiteral("chave"));
        save(name, kelvra::authentication_type::key_file, key_server_->port(),
             key_server_->client_key().toUtf8(), folder, false);

        QProcess process;
        process.start(kelvra(), {QStringLiteral("--load"), name});
        QVERIFY(process.waitForFinished(connection_timeout_ms));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        check_server_side(name, folder);
    }

    void password_session() {
        QString const name = QStringLiteral("Produção senha");
        QString const folder = session_folder(QStringLiteral("senha"));
        QString const fifo = folder + QStringLiteral("/fim");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        save(name, kelvra::authentication_type::password, password_server_->port(), password_,
             folder, true);

        QProcess process;
        process.start(kelvra(), {QStringLiteral("--load"), name});
        // The connection is up and waits on the fifo: nothing any process
        // shows, and no file of the user or the installation, holds the
        // password.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/url.status")) ||
                                     process.state() == QProcess::NotRunning,
                                 connection_timeout_ms);
        QCOMPARE(process.state(), QProcess::Running);
        QStringList const shown = kelvra::testing::processes_showing(password_);
        QStringList const stored = kelvra::testing::files_holding(home_->home(), password_) +
                                   kelvra::testing::files_holding(home_->runtime_dir(), password_) +
                                   kelvra::testing::files_holding(root_->path(), password_);
        // QTRY evaluates its condition more than once: release only once.
        bool released = false;
        QTRY_VERIFY_WITH_TIMEOUT(released || (released = release(fifo)), connection_timeout_ms);
        QVERIFY(process.waitForFinished(connection_timeout_ms));
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char(','))));
        QVERIFY2(stored.isEmpty(), qPrintable(stored.join(QLatin1Char(','))));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        check_server_side(name, folder);
    }

    // With a display the connection runs in a terminal window titled after
    // the session.
    void terminal_window() {
        QString const xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        QString const xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
        if (xvfb.isEmpty() || xwininfo.isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xterm")).isEmpty()) {
            QSKIP("Xvfb, xwininfo or xterm missing");
        }
        QProcess server;
        server.start(xvfb,
                     {QStringLiteral("-displayfd"), QStringLiteral("1"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24")});
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() == QProcess::NotRunning,
                                 connection_timeout_ms);
        QByteArray const display = ":" + server.readLine().trimmed();
        QVERIFY(display.size() > 1);

        QString const name = QStringLiteral("Janela Kelvra");
        QString const folder = session_folder(QStringLiteral("janela"));
        QString const fifo = folder + QStringLiteral("/fim");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        save(name, kelvra::authentication_type::key_file, key_server_->port(),
             key_server_->client_key().toUtf8(), folder, true);

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        process.setProcessEnvironment(environment);
        process.start(kelvra(), {QStringLiteral("--load"), name});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/url.status")) ||
                                     process.state() == QProcess::NotRunning,
                                 connection_timeout_ms);
        QCOMPARE(process.state(), QProcess::Running);

        QProcess windows;
        windows.setProcessEnvironment(environment);
        windows.start(xwininfo, {QStringLiteral("-root"), QStringLiteral("-tree")});
        QVERIFY(windows.waitForFinished(connection_timeout_ms));
        QByteArray const tree = windows.readAllStandardOutput();

        // QTRY evaluates its condition more than once: release only once.
        bool released = false;
        QTRY_VERIFY_WITH_TIMEOUT(released || (released = release(fifo)), connection_timeout_ms);
        QVERIFY(process.waitForFinished(connection_timeout_ms));
        server.terminate();
        server.waitForFinished(connection_timeout_ms);
        QVERIFY2(tree.contains("\"Janela Kelvra\""), tree.constData());
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        check_server_side(name, folder);
    }
};

QTEST_GUILESS_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
