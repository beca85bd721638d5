// The terminal program against OpenSSH's real sshd on loopback, run in this
// process with a known installation key. The remote command runs the real
// probe, which reaches a tunnel stand-in through the real forward.
#include "control_channel.hpp"
#include "credential.hpp"
#include "terminal_program.hpp"
#include "terminal_status.hpp"
#include "tunnel_stand_in.hpp"

#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "crypto/session_key.hpp"
#include "support/process_scan.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

namespace core = brano::core::v6;
using kelvra::terminal::credential_kind;
using kelvra::terminal::terminal_arguments;
using kelvra::testing::sshd_server;

namespace {

core::byte_array const installation_key("installation identity of the test|SERIAL-1");

QByteArray read_file(QString const& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string session_key_text(std::string const& secret, std::string const& command,
                             std::string const& path, long long age_ms = 0) {
    kelvra::crypto::session_key key;
    key.timestamp = core::datetime::from_msecs_since_epoch(
        core::datetime::now().to_msecs_since_epoch() - age_ms);
    key.device_key = installation_key;
    key.secret = core::byte_array(secret);
    key.command = command;
    key.path = path;
    core::result::stack status;
    std::string text = kelvra::crypto::encrypt_session_key(key, status);
    return status.has_failed() ? std::string() : text;
}

} // namespace

class tst_terminal_ssh : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<kelvra::testing::isolated_home> home_;
    std::unique_ptr<sshd_server> key_server_;
    std::unique_ptr<sshd_server> password_server_;
    QByteArray const password_ =
        "Senha 'de' \"teste\" $(x) " + QByteArray::number(QRandomGenerator::global()->generate());
    std::unique_ptr<QTemporaryDir> work_;

    // Writes the profile as the launcher does, returns the connection id.
    QString write_profile(QString const& name, quint16 port) {
        kelvra::connection c;
        c.name = name;
        c.host = QStringLiteral("127.0.0.1");
        c.port = port;
        c.user = QStringLiteral("root");
        QString const id = kelvra::manager::new_connection_id();
        core::result::stack status;
        kelvra::write_putty_profile(kelvra::putty_session_path(name), c, id, status);
        return status.has_failed() ? QString() : id;
    }

    // A session folder whose name needs quoting on the server.
    QString session_folder(QString const& tag) {
        QString const path = work_->filePath(QStringLiteral("sessão 'um' $HOME ") + tag);
        QDir().mkpath(path);
        return path;
    }

    static std::string probe_command(QString const& extra = {}) {
        return ("printf %s \"$KELVRA_CONNECTION_ID\" > id.txt; "
                "printf %s \"$KELVRA_VERSION\" > version.txt; "
                "stat -c '%n %a %U' \"/tmp/kelvra-$KELVRA_CONNECTION_ID\" > socket.txt; " +
                QStringLiteral(KELVRA_PROBE_PATH) +
                QStringLiteral(" > probe.out; echo $? > probe.status") + extra)
            .toStdString();
    }

    kelvra::terminal::workstation place(QString const& base, QString const& name) const {
        kelvra::terminal::workstation w;
        w.profile_path = kelvra::putty_session_path(name).toStdString();
        w.helpers_dir = QStringLiteral(KELVRA_HELPERS_DIR).toStdString();
        w.home = home_->home().toStdString();
        w.search_path = qgetenv("PATH").toStdString();
        w.private_base = base.toStdString();
        w.now_ms = core::datetime::now().to_msecs_since_epoch();
        return w;
    }

    terminal_arguments arguments(QString const& name, credential_kind kind, std::string credential,
                                 quint16 forward_port) {
        terminal_arguments a;
        a.session_name = name.toStdString();
        a.kind = kind;
        a.credential = std::move(credential);
        a.forward_host = "127.0.0.1";
        a.forward_port = forward_port;
        return a;
    }

private slots:
    void initTestCase() {
        QString const reason = sshd_server::unavailable_reason();
        if (!reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        home_ = std::make_unique<kelvra::testing::isolated_home>();
        work_ = std::make_unique<QTemporaryDir>();
        QVERIFY(work_->isValid());
        QString error;
        key_server_ = std::make_unique<sshd_server>();
        QVERIFY2(key_server_->start(sshd_server::login::key, {}, error), qPrintable(error));
        password_server_ = std::make_unique<sshd_server>();
        QVERIFY2(password_server_->start(sshd_server::login::password, password_, error),
                 qPrintable(error));
    }

    void key_file_session_data() {
        QTest::addColumn<bool>("putty_format");
        QTest::newRow("OpenSSH key") << false;
        QTest::newRow("PuTTY key, converted for the connection") << true;
    }

    void key_file_session() {
        QFETCH(bool, putty_format);
        kelvra::testing::tunnel_stand_in tunnel;
        QVERIFY(tunnel.is_listening());
        QString const name = QStringLiteral("Produção %1").arg(putty_format ? 2 : 1);
        QString const id = write_profile(name, key_server_->port());
        QVERIFY(!id.isEmpty());
        QString const folder = session_folder(name);
        QString const key = putty_format ? key_server_->client_ppk() : key_server_->client_key();
        QTemporaryDir base;

        core::result::stack status;
        int const exit_status = kelvra::terminal::run_terminal_program(
            arguments(name, credential_kind::key_file,
                      session_key_text(key.toStdString(), probe_command(), folder.toStdString()),
                      tunnel.port()),
            installation_key, place(base.path(), name), status);

        QVERIFY2(!status.has_failed(), status.get_message().c_str());
        QCOMPARE(exit_status, 0);
        QCOMPARE(read_file(folder + QStringLiteral("/id.txt")), id.toLatin1());
        QCOMPARE(read_file(folder + QStringLiteral("/version.txt")), QByteArray("1.3.3"));
        QCOMPARE(read_file(folder + QStringLiteral("/probe.status")), QByteArray("0\n"));
        QCOMPARE(read_file(folder + QStringLiteral("/probe.out")),
                 QByteArray::fromStdString(kelvra::testing::tunnel_stand_in::reply_json()) + '\n');
        auto const requests = tunnel.requests();
        QCOMPARE(requests.size(), std::size_t{1});
        QCOMPARE(QByteArray::fromStdString(requests[0]),
                 "{\"connection_id\":\"" + id.toLatin1() +
                     "\",\"kind\":\"PrinterListRequest\",\"version\":1}");
        // The converted key and the control channel are gone with the connection.
        QVERIFY(QDir(base.path()).isEmpty());
        // The forward's socket went with the command.
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/kelvra-") + id));
        // The server was remembered in the user's own known_hosts.
        QVERIFY(read_file(home_->home() + QStringLiteral("/.ssh/known_hosts"))
                    .contains(key_server_->host_key_blob()));
        // The forward listened where the connection id says, for its user only.
        QCOMPARE(read_file(folder + QStringLiteral("/socket.txt")),
                 "/tmp/kelvra-" + id.toLatin1() + " 600 root\n");
    }

    void password_session() {
        kelvra::testing::tunnel_stand_in tunnel;
        QStringList shown;
        QStringList in_files;
        std::atomic<bool> scanned{false};
        QString const name = QStringLiteral("Senha");
        QString const id = write_profile(name, password_server_->port());
        QTemporaryDir base;
        // While the probe's request is served the connection is up: nothing
        // any process shows, and no file of the user, holds the password.
        tunnel.set_hook([&] {
            shown = kelvra::testing::processes_showing(password_);
            in_files = kelvra::testing::files_holding(home_->home(), password_) +
                       kelvra::testing::files_holding(base.path(), password_);
            scanned = true;
        });
        QString const folder = session_folder(name);

        core::result::stack status;
        int const exit_status = kelvra::terminal::run_terminal_program(
            arguments(
                name, credential_kind::password,
                session_key_text(password_.toStdString(), probe_command(), folder.toStdString()),
                tunnel.port()),
            installation_key, place(base.path(), name), status);

        QVERIFY2(!status.has_failed(), status.get_message().c_str());
        QCOMPARE(exit_status, 0);
        QVERIFY(scanned);
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char(','))));
        QVERIFY2(in_files.isEmpty(), qPrintable(in_files.join(QLatin1Char(','))));
        QCOMPARE(read_file(folder + QStringLiteral("/id.txt")), id.toLatin1());
        QCOMPARE(read_file(folder + QStringLiteral("/probe.status")), QByteArray("0\n"));
        QVERIFY(QDir(base.path()).isEmpty());
    }

    void wrong_password_ends_with_ssh_status() {
        kelvra::testing::tunnel_stand_in tunnel;
        QString const name = QStringLiteral("Senha errada");
        write_profile(name, password_server_->port());
        QTemporaryDir base;
        QString const folder = session_folder(name);

        core::result::stack status;
        int const exit_status = kelvra::terminal::run_terminal_program(
            arguments(name, credential_kind::password,
                      session_key_text("not the password", probe_command(), folder.toStdString()),
                      tunnel.port()),
            installation_key, place(base.path(), name), status);

        QVERIFY(!status.has_failed());
        QCOMPARE(exit_status, 255); // ssh's own failure status
        QVERIFY(!QFile::exists(folder + QStringLiteral("/probe.status")));
        QVERIFY(tunnel.requests().empty());
    }

    // The server side of the forward is refused: ssh gives up instead of
    // running the command without a way back to the workstation.
    void refused_forward_ends_the_connection() {
        QString const name = QStringLiteral("Sem retorno");
        QString const id = write_profile(name, key_server_->port());
        QTemporaryDir base;
        QString const folder = session_folder(name);
        // A folder where the socket should be: the server cannot bind there.
        QString const blocker = QStringLiteral("/tmp/kelvra-") + id;
        QVERIFY(QDir().mkdir(blocker));
        QDir().mkdir(blocker + QStringLiteral("/x"));

        core::result::stack status;
        int const exit_status = kelvra::terminal::run_terminal_program(
            arguments(name, credential_kind::key_file,
                      session_key_text(key_server_->client_key().toStdString(), probe_command(),
                                       folder.toStdString()),
                      1),
            installation_key, place(base.path(), name), status);
        QDir(blocker).removeRecursively();

        QCOMPARE(exit_status, 255);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/probe.status")));
    }

    void failures_before_ssh_data() {
        QTest::addColumn<QString>("profile_name");
        QTest::addColumn<long long>("age_ms");
        QTest::addColumn<QString>("key_file");
        QTest::addColumn<int>("code");
        QTest::newRow("profile missing")
            << QStringLiteral("Nenhum") << 0LL << QString()
            << int(kelvra::terminal::status::terminal_category::profile_not_found);
        QTest::newRow("key text two minutes and a second old")
            << QStringLiteral("Antiga") << 121000LL << QString()
            << int(kelvra::terminal::status::terminal_category::key_expired);
        QTest::newRow("key text from the future")
            << QStringLiteral("Futura") << -121000LL << QString()
            << int(kelvra::terminal::status::terminal_category::key_expired);
        QTest::newRow("key file missing")
            << QStringLiteral("Sem chave") << 0LL << QStringLiteral("/nonexistent/key")
            << int(kelvra::terminal::status::terminal_category::key_file_unreadable);
    }

    void failures_before_ssh() {
        QFETCH(QString, profile_name);
        QFETCH(long long, age_ms);
        QFETCH(QString, key_file);
        QFETCH(int, code);
        if (profile_name != QLatin1String("Nenhum")) {
            write_profile(profile_name, key_server_->port());
        }
        QTemporaryDir base;
        QString const key = key_file.isEmpty() ? key_server_->client_key() : key_file;
        core::result::stack status;
        kelvra::terminal::workstation const w = place(base.path(), profile_name);
        int const exit_status = kelvra::terminal::run_terminal_program(
            arguments(profile_name, credential_kind::key_file,
                      session_key_text(key.toStdString(), "true", "/", age_ms), 59565),
            installation_key, w, status);
        QCOMPARE(exit_status, 1);
        QVERIFY(status.has_failed());
        QCOMPARE(std::string(status.begin()->get_category().name()),
                 std::string("kelvra-terminal"));
        QCOMPARE(status.begin()->get_code(), code);
        QVERIFY(QDir(base.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_terminal_ssh)
#include "tst_terminal_ssh.moc"
