// The terminal program against OpenSSH's real sshd on loopback, run in this
// process with a known installation key: the ways a connection fails that
// the end-to-end test, which only opens good ones, does not reach.
#include "terminal_program.hpp"
#include "terminal_status.hpp"

#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "crypto/session_key.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace core = brano::core::v6;
using kelvra::terminal::credential_kind;
using kelvra::terminal::status::terminal_category;
using kelvra::testing::sshd_server;

class tst_terminal_ssh : public QObject {
    Q_OBJECT

    std::unique_ptr<kelvra::testing::isolated_home> home_;
    std::unique_ptr<sshd_server> key_server_;
    std::unique_ptr<sshd_server> password_server_;

private slots:
    void initTestCase() {
        QString const reason = sshd_server::unavailable_reason();
        if (!reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        home_ = std::make_unique<kelvra::testing::isolated_home>();
        QString error;
        key_server_ = std::make_unique<sshd_server>();
        QVERIFY2(key_server_->start(sshd_server::login::key, {}, error), qPrintable(error));
        password_server_ = std::make_unique<sshd_server>();
        QVERIFY2(password_server_->start(sshd_server::login::password, "Senha de teste", error),
                 qPrintable(error));
    }

    // `exit_status` 1 is a failure before ssh, with `code`; 255 is ssh's own.
    void refused_connections_data() {
        QTest::addColumn<bool>("profile");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("secret"); // empty: the client key
        QTest::addColumn<long long>("age_ms");
        QTest::addColumn<bool>("forward_blocked");
        QTest::addColumn<int>("exit_status");
        QTest::addColumn<int>("code");
        QTest::newRow("profile missing") << false << false << QString() << 0LL << false << 1
                                         << int(terminal_category::profile_not_found);
        QTest::newRow("key text two minutes and a second old")
            << true << false << QString() << 121000LL << false << 1
            << int(terminal_category::key_expired);
        QTest::newRow("key file missing")
            << true << false << QStringLiteral("/nonexistent/key") << 0LL << false << 1
            << int(terminal_category::key_file_unreadable);
        QTest::newRow("wrong password")
            << true << true << QStringLiteral("not the password") << 0LL << false << 255 << -1;
        // ssh gives up instead of running the command without a way back.
        QTest::newRow("forward refused on the server")
            << true << false << QString() << 0LL << true << 255 << -1;
    }

    void refused_connections() {
        QFETCH(bool, profile);
        QFETCH(bool, password);
        QFETCH(QString, secret);
        QFETCH(long long, age_ms);
        QFETCH(bool, forward_blocked);
        QFETCH(int, exit_status);
        QFETCH(int, code);
        QString const name = QString::fromLatin1(QTest::currentDataTag());
        core::result::stack status;
        QString const id = kelvra::manager::new_connection_id();
        if (profile) {
            kelvra::connection c;
            c.name = name;
            c.host = QStringLiteral("127.0.0.1");
            c.port = (password ? password_server_ : key_server_)->port();
            c.user = QStringLiteral("root");
            kelvra::write_putty_profile(kelvra::putty_session_path(name), c, id, status);
            QVERIFY(!status.has_failed());
        }
        // A folder where the server would put the forward's socket.
        QString const blocker = QStringLiteral("/tmp/kelvra-") + id;
        if (forward_blocked) {
            QVERIFY(QDir().mkpath(blocker + QStringLiteral("/x")));
        }
        QTemporaryDir work;
        QTemporaryDir base;
        kelvra::crypto::session_key key;
        key.timestamp = core::datetime::from_msecs_since_epoch(
            core::datetime::now().to_msecs_since_epoch() - age_ms);
        key.device_key = core::byte_array("installation of the test");
        key.secret =
            core::byte_array((secret.isEmpty() ? key_server_->client_key() : secret).toStdString());
        key.command = "touch ran";
        key.path = work.path().toStdString();
        kelvra::terminal::terminal_arguments a;
        a.session_name = name.toStdString();
        a.kind = password ? credential_kind::password : credential_kind::key_file;
        a.credential = kelvra::crypto::encrypt_session_key(key, status);
        a.forward_host = "127.0.0.1";
        a.forward_port = 1;
        kelvra::terminal::workstation w;
        w.profile_path = kelvra::putty_session_path(name).toStdString();
        w.helpers_dir = KELVRA_HELPERS_DIR;
        w.home = home_->home().toStdString();
        w.search_path = qgetenv("PATH").toStdString();
        w.private_base = base.path().toStdString();
        w.now_ms = core::datetime::now().to_msecs_since_epoch();

        int const result = kelvra::terminal::run_terminal_program(a, key.device_key, w, status);
        QDir(blocker).removeRecursively();
        QCOMPARE(result, exit_status);
        QCOMPARE(status.has_failed(), code != -1);
        if (code != -1) {
            QCOMPARE(std::string(status.begin()->get_category().name()),
                     std::string("kelvra-terminal"));
            QCOMPARE(status.begin()->get_code(), code);
        }
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("ran"))));
        QVERIFY(QDir(base.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_terminal_ssh)
#include "tst_terminal_ssh.moc"
