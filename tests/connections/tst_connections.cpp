// Launching and opening sessions for real (the recording terminal program, the
// installation key from a private bus) and their desktop shortcuts.
#include "commandline/arguments.hpp"
#include "connections/desktop_shortcut.hpp"
#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"
#include "sessions/session_json.hpp"
#include "support/machine_identity.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace core = brano::core::v6;
using kelvra::authentication_type;
using kelvra::connection;
using kelvra::manager;

namespace {

connection sample(QString const& name = "Vendas") {
    connection c; // a password session
    c.name = name;
    c.host = "mirtel.example.com";
    c.port = 2222;
    c.user = "operador";
    c.session_key = "stored";
    c.printers = {{"P1", "Balcão", 1}};
    return c;
}

using kelvra::testing::read_file;
using kelvra::testing::recorded_calls;

QString environment_id(QString const& profile_path) {
    return QRegularExpression(
               "^Environment=KELVRA_CONNECTION_ID=([0-9a-f]{76}),KELVRA_VERSION=1\\.3\\.3$",
               QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(read_file(profile_path)))
        .captured(1);
}

// A failure as "CATEGORY CODE NAME=VALUE...", without the system's wording.
QString describe(core::result::stack const& status) {
    QStringList words{status.begin()->get_category().name(), QString::number(status.get_value())};
    for (auto const& argument : status.begin()->get_argument_range()) {
        if (argument.get_name() != "description") {
            words << QString::fromStdString(argument.get_name() + '=' + argument.get_value());
        }
    }
    return words.join(' ');
}

core::byte_array process_key() {
    core::result::stack status;
    return kelvra::crypto::get_installation_key(status);
}

// A text sealed for another installation that this one refuses (about one in
// 256 passes the padding check and decrypts to noise), so the refusal is tested.
QString sealed_elsewhere(std::string const& command, std::string const& path) {
    kelvra::crypto::session_key key;
    key.device_key = core::byte_array("another-drive");
    key.secret = core::byte_array("x");
    key.command = command;
    key.path = path;
    for (;;) {
        core::result::stack status;
        std::string const text = kelvra::crypto::encrypt_session_key(key, status);
        kelvra::crypto::decrypt_session_key(text, process_key(), status);
        if (status.has_failed()) {
            return QString::fromStdString(text);
        }
    }
}

} // namespace

class tst_connections : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::install_root root_;
    kelvra::testing::machine_identity identity_;
    QTemporaryDir records_;
    QStringList ids_; // of the openings so far

    // Launches (opens, without a credential) and waits for the terminal program.
    void launch_and_wait(QString const& bin, connection const& c, QString const& credential,
                         core::result::stack& status) {
        QSignalSpy finished(&manager::instance(), &manager::all_finished);
        if (credential.isNull()) {
            manager::instance().open_from(bin, c, status);
        } else {
            manager::instance().launch_from(bin, c, credential, status);
        }
        if (!status.has_failed() && manager::instance().has_running()) {
            QVERIFY(finished.wait(30000));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        QVERIFY(!process_key().empty());
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(root_.install(QCoreApplication::applicationDirPath() + "/../recording_putty",
                              "libexec/putty"));
    }

    void init() { kelvra::testing::take_recorded_calls(records_.path()); }

    // Each opening registers a new id with the printers, in a profile that is
    // otherwise fixed (one found there keeps only its colours and unknown keys).
    void openings_data() {
        QTest::addColumn<int>("auth");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArray>("existing"); // a profile found there
        QString const forward = "kelvra:127.0.0.1:59565";
        QByteArray const existing =
            "[General]\nColour0=1, 2, 3\nHostName=antigo\nUserName=velho\n"
            "PortNumber=1\nProtocol=telnet\nWinTitle=x\nEnvironment=A=1\nTermType=xterm\n";
        // clang-format off
        QTest::newRow("password") << 0 << false << QStringList{"-load", "Produção 1", "-pw", "TEXT", "-R", forward} << QByteArray();
        QTest::newRow("key file") << 1 << false << QStringList{"-load", "Produção 1", "-i", "TEXT", "-R", forward} << QByteArray();
        QTest::newRow("maximized") << 0 << true << QStringList{"-load", "Produção 1", "-pw", "TEXT", "-maximized", "-R", forward} << existing;
        // clang-format on
    }

    void openings() {
        QFETCH(int, auth);
        QFETCH(bool, maximized);
        QFETCH(QStringList, expected);
        QFETCH(QByteArray, existing);
        QString const path = home_.home() + "/.putty/sessions/Produ%C3%A7%C3%A3o%201";
        QVERIFY(existing.isEmpty() || kelvra::testing::write_file(path, existing));
        connection c = sample("Produção 1");
        c.host = "h\"ost";
        c.auth_type = static_cast<authentication_type>(auth);
        c.maximized = maximized;
        core::result::stack status;
        launch_and_wait(root_.bin(), c, "TEXT", status);
        QVERIFY(!status.has_failed());
        QCOMPARE(recorded_calls(records_.path()), QList<QStringList>{expected});
        QCOMPARE(kelvra::putty_session_path(c.name), path);
        QString const id = environment_id(path);
        QVERIFY(id.startsWith("7b") && id.endsWith("7d"));
        QVERIFY(!ids_.contains(id));
        ids_ << id;
        auto const found = manager::instance().find(id);
        QVERIFY(found.has_value());
        QCOMPARE(found->printers, c.printers);
        QByteArray profile = read_file(kelvra::testing::data_file("putty_profile.ini"));
        profile.replace("@ID@", id.toLatin1());
        if (!existing.isEmpty()) {
            profile.replace("Colour0=187, 187, 187", "Colour0=1, 2, 3")
                .replace("Protocol=ssh\n", "Protocol=ssh\nTermType=xterm\n");
        }
        QCOMPARE(read_file(path), profile);
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    // A killed writer leaves empty lock files (QSettings' own beside the file
    // it writes) that Qt would wait 30 s on; the next opening must not.
    void locks_left_by_a_killed_writer_are_not_waited_for() {
        connection const c = sample("Travada");
        QString const path = kelvra::putty_session_path(c.name);
        QString const work = home_.home() + "/.putty/kelvra-profile.work/";
        for (QString const& lock : {path + ".lock", work + QFileInfo(path).fileName() + ".lock"}) {
            QVERIFY(kelvra::testing::write_file(lock, {}));
        }
        core::result::stack status;
        auto writing = std::async(std::launch::async,
                                  [&] { kelvra::write_putty_profile(path, c, "id", status); });
        QVERIFY2(writing.wait_for(std::chrono::seconds(20)) == std::future_status::ready,
                 "the profile writer waits on a stale lock");
        QVERIFY(!status.has_failed());
        QVERIFY(read_file(path).contains("HostName=mirtel.example.com"));
    }

    // A live writer holds the lock: the opening waits a bounded time, then
    // reports the profile as busy instead of writing beside it.
    void a_live_writer_is_never_written_beside() {
        QString const lock_path = home_.home() + "/.putty/kelvra-profile.lock";
        int const fd = ::open(QFile::encodeName(lock_path).constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        auto release = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        connection const c = sample("Ocupada");
        core::result::stack status;
        kelvra::write_putty_profile(kelvra::putty_session_path(c.name), c, "id", status);
        QVERIFY(status.has_failed());
        QCOMPARE(describe(status), "kelvra-persist-session 3 filename=" + lock_path + " code=11");
        QVERIFY(!QFile::exists(kelvra::putty_session_path(c.name)));
    }

    // Failures start nothing; those after the profile is written register the
    // id, an unwritable profile and a key that does not open fail before.
    void failed_openings_data() {
        QTest::addColumn<QString>("session_key"); // none: launched with a credential
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("registered");
        auto row = [](char const* tag, QString const& key, char const* failure, bool registered) {
            QTest::newRow(tag) << key << failure << registered;
        };
        row("invalid auth", {}, "kelvra-load-session 11 session-name=invalid auth", true);
        row("no terminal program", {}, "kelvra-application-directories 2", true);
        row("folder in the profile's place", {}, "kelvra-settings-error", false);
        row("other installation", sealed_elsewhere("c", "p"), "kelvra-openssl-errors", false);
        row("not a session key", "AAE=", "kelvra-generic-errors", false);
        row("no identity", "AAE=", "kelvra-crypto-linux-dbus", false);
    }

    void failed_openings() {
        QFETCH(QString, session_key);
        QFETCH(QString, failure);
        QFETCH(bool, registered);
        QString const tag = QTest::currentDataTag();
        QString const profile = kelvra::putty_session_path(tag);
        connection c = sample(tag);
        c.auth_type = tag == "invalid auth" ? authentication_type::invalid : c.auth_type;
        c.session_key = session_key;
        QVERIFY(tag != "folder in the profile's place" || QDir().mkpath(profile + "/x"));
        if (tag == "no identity") {
            identity_.stop();
        }
        auto restart = qScopeGuard([&] { QVERIFY(tag != "no identity" || identity_.restart()); });
        kelvra::testing::install_root bare;
        core::result::stack status;
        launch_and_wait(tag == "no terminal program" ? bare.bin() : root_.bin(), c,
                        session_key.isNull() ? "T" : QString(), status);
        QVERIFY(status.has_failed());
        QCOMPARE(describe(status).left(failure.size()), failure);
        QVERIFY(!manager::instance().has_running());
        QCOMPARE(QFileInfo(profile).isFile(), registered);
        QCOMPARE(manager::instance().find(environment_id(profile)).has_value(), registered);
        QVERIFY(recorded_calls(records_.path()).isEmpty());
    }

    // A program that cannot run must not stay "running", and is reported.
    void failed_start_is_forgotten_and_reported() {
        core::result::stack status;
        kelvra::testing::install_root broken;
        QVERIFY(broken.write("libexec/putty", "#!/nonexistent/interpreter\n"));
        QFile::setPermissions(broken.file("libexec/putty"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSignalSpy failed(&manager::instance(), &manager::launch_failed);
        manager::instance().launch_from(broken.bin(), sample(), "T", status);
        QVERIFY(!status.has_failed());
        QTRY_VERIFY_WITH_TIMEOUT(!manager::instance().has_running(), 30000);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(describe(failed.first().first().value<core::result::stack>()),
                 "kelvra-application-directories 2 path=" + broken.file("libexec/putty") +
                     " session-name=Vendas");
    }

    void opening_renews_the_session_key_text() {
        connection c = sample();
        c.session_key = kelvra::testing::machine_identity::session_key_text(
            QCoreApplication::applicationFilePath(), "s3nh@", "mirtel", "/srv/mirtel");
        core::result::stack status;
        qint64 const before = QDateTime::currentMSecsSinceEpoch();
        launch_and_wait(root_.bin(), c, {}, status);
        qint64 const after = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(!status.has_failed());
        QStringList const call = kelvra::testing::take_recorded_calls(records_.path()).value(0);
        QCOMPARE(call.mid(0, 3) + call.mid(4),
                 (QStringList{"-load", "Vendas", "-pw", "-R", "kelvra:127.0.0.1:59565"}));
        QVERIFY(call[3] != c.session_key);
        kelvra::crypto::session_key const key =
            kelvra::crypto::decrypt_session_key(call[3].toStdString(), process_key(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(
            QString::fromStdString(key.secret.to_string() + ' ' + key.command + ' ' + key.path),
            "s3nh@ mirtel /srv/mirtel");
        qint64 const stamped = key.timestamp.to_msecs_since_epoch();
        QVERIFY(stamped >= before && stamped <= after);
    }

    // A version 1 file sealed elsewhere fails, and recovers nothing.
    void version_1_file_of_another_installation() {
        QByteArray const v1 =
            "{\"versao\": 1, \"nome\": \"Antiga\", \"host\": \"h\", \"porta\": 22, "
            "\"usuario\": \"u\", \"autostart\": false, \"maximized\": true, \"key\": \"" +
            sealed_elsewhere("menu", "/").toLatin1() + "\"}";
        core::result::stack status;
        kelvra::session const foreign =
            kelvra::session_from_json(QJsonDocument::fromJson(v1), status);
        QVERIFY(status.has_failed());
        QVERIFY(foreign.comando.isEmpty() && foreign.caminho.isEmpty());
    }

    // Every name gets a launcher file of its own whose Exec line (quoted, then
    // escaped as a string value) hands "--load=NAME" whole to the command line:
    // names starting with "-", holding "=" or quoted characters, or "/" and "%2F".
    void every_name_opens_its_own_session_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("argument");
        auto row = [](char const* name, char const* file, char const* argument) {
            QTest::newRow(name) << name << file << argument;
        };
        row("Caixa \\1", "Caixa \\1", "\"--load=Caixa \\\\\\\\1\"");
        row("-x", "-x", "\"--load=-x\"");
        row("a=b", "a=b", "\"--load=a=b\"");
        row("a/b", "a%2Fb", "\"--load=a/b\"");
        row("a%2Fb", "a%252Fb", "\"--load=a%%2Fb\"");
        row("a\"b`c$d", "a\"b`c$d", "\"--load=a\\\\\"b\\\\`c\\\\$d\"");
    }

    void every_name_opens_its_own_session() {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(QString, argument);
        auto const d = kelvra::describe_session_shortcut(name);
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QVERIFY(!status.has_failed());
        QVERIFY(!QFile::exists(d.shortcut_file));
        QFile entry(home_.home() + "/Desktop/" + file + ".desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.permissions() & QFile::ExeOwner);
        QString const text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\n"));
        QString const shown = QString(name).replace("\\", "\\\\");
        QVERIFY(text.contains("\nName=" + shown + QLatin1Char('\n')));
        QString const exec = "\nExec=\"" + QCoreApplication::applicationFilePath() + "\" " +
                             argument + QLatin1Char('\n');
        QVERIFY2(text.contains(exec), qPrintable(text));
        QVERIFY(text.contains("\nIcon="));

        QByteArray program = "kelvra", option = ("--load=" + name).toUtf8();
        char* argv[] = {program.data(), option.data(), nullptr};
        kelvra::commandline::arguments parsed;
        parsed.parse(2, argv, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(parsed.session_name(), name);
    }

    void unwritable_desktop_is_reported() {
        auto d = kelvra::describe_session_shortcut("X");
        QVERIFY(QFile(home_.home() + "/blocker").open(QIODevice::WriteOnly));
        d.shortcut_file = home_.home() + "/blocker/X.lnk";
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QVERIFY(status.has_failed());
        QCOMPARE(describe(status),
                 "kelvra-persist-session 3 filename=" + home_.home() + "/blocker/X.desktop code=5");
    }
};

QTEST_GUILESS_MAIN(tst_connections)
#include "tst_connections.moc"
