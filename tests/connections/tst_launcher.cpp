#include "connections/manager.hpp"
#include "connections/putty_profile.hpp"
#include "core/status.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
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

connection sample(QString const& name = QStringLiteral("Vendas")) {
    connection c;
    c.auth_type = authentication_type::password;
    c.name = name;
    c.host = QStringLiteral("mirtel.example.com");
    c.port = 2222;
    c.user = QStringLiteral("operador");
    c.session_key = QStringLiteral("stored");
    c.printers = {{QStringLiteral("P1"), QStringLiteral("Balcão"), 1}};
    return c;
}

using kelvra::testing::read_file;
using kelvra::testing::recorded_calls;

QString environment_id(QString const& profile_path) {
    QRegularExpression const re(
        QStringLiteral(
            "^Environment=KELVRA_CONNECTION_ID=([0-9a-f]{76}),KELVRA_VERSION=1\\.3\\.3$"),
        QRegularExpression::MultilineOption);
    auto const match = re.match(QString::fromUtf8(read_file(profile_path)));
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

class tst_launcher : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::install_root root_;
    QTemporaryDir records_;

    // Launches and waits until the recording program has finished.
    void launch_and_wait(connection const& c, QString const& credential,
                         core::result::stack& status) {
        QSignalSpy finished(&manager::instance(), &manager::all_finished);
        manager::instance().launch_from(root_.bin(), c, credential, status);
        if (!status.has_failed() && manager::instance().has_running()) {
            QVERIFY(finished.wait(30000));
        }
    }

private slots:
    void initTestCase() {
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(root_.install(QCoreApplication::applicationDirPath() + "/../recording_putty",
                              "libexec/putty"));
    }

    void init() {
        for (QFileInfo const& f : QDir(records_.path()).entryInfoList(QDir::Files)) {
            QFile::remove(f.filePath());
        }
    }

    void argument_lists_data() {
        QTest::addColumn<int>("auth");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QStringList>("expected");
        QString const forward = QStringLiteral("kelvra:127.0.0.1:59565");
        // clang-format off
        QTest::newRow("password") << 0 << false << QStringList{"-load", "Produção 1", "-pw", "TEXT", "-R", forward};
        QTest::newRow("key file") << 1 << false << QStringList{"-load", "Produção 1", "-i", "TEXT", "-R", forward};
        QTest::newRow("maximized") << 0 << true << QStringList{"-load", "Produção 1", "-pw", "TEXT", "-maximized", "-R", forward};
        // clang-format on
    }

    void argument_lists() {
        QFETCH(int, auth);
        QFETCH(bool, maximized);
        QFETCH(QStringList, expected);
        connection c = sample(QStringLiteral("Produção 1"));
        c.auth_type = static_cast<authentication_type>(auth);
        c.maximized = maximized;
        core::result::stack status;
        launch_and_wait(c, QStringLiteral("TEXT"), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(recorded_calls(records_.path()), QList<QStringList>{expected});
    }

    void profile_file_is_exact() {
        connection c = sample(QStringLiteral("Produção 1"));
        c.host = QStringLiteral("h\"ost");
        core::result::stack status;
        launch_and_wait(c, QStringLiteral("TEXT"), status);
        QVERIFY(!status.has_failed());

        QString const path =
            home_.home() + QStringLiteral("/.putty/sessions/Produ%C3%A7%C3%A3o%201");
        QCOMPARE(kelvra::putty_session_path(c.name), path);
        QString const id = environment_id(path);
        QVERIFY(!id.isEmpty());
        QFile golden(kelvra::testing::data_file(QStringLiteral("putty_profile.ini")));
        QVERIFY(golden.open(QIODevice::ReadOnly));
        QByteArray expected = golden.readAll();
        expected.replace("@ID@", id.toLatin1());
        QCOMPARE(read_file(path), expected);
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    void existing_colours_are_kept_and_fixed_keys_replaced() {
        QString const path = kelvra::putty_session_path(QStringLiteral("Cores"));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nColour0=1, 2, 3\nHostName=antigo\nUserName=velho\nPortNumber=1\n"
                "Protocol=telnet\nWinTitle=x\nEnvironment=A=1\nTermType=xterm\n");
        f.close();
        core::result::stack status;
        launch_and_wait(sample(QStringLiteral("Cores")), QStringLiteral("T"), status);
        QVERIFY(!status.has_failed());
        QSettings settings(path, QSettings::NativeFormat);
        QStringList values;
        for (char const* key : {"Colour0", "Colour1", "HostName", "UserName", "PortNumber",
                                "Protocol", "WinTitle", "TermType"}) {
            values << settings.value(QLatin1String(key)).toStringList().join(QLatin1Char(' '));
        }
        QCOMPARE(values, (QStringList{"1 2 3", "255 255 255", "mirtel.example.com", "operador",
                                      "2222", "ssh", "Cores", "xterm"}));
        QVERIFY(!environment_id(path).isEmpty());
    }

    // A writer killed at the wrong moment leaves empty lock files behind
    // (QSettings' own beside the file it writes); Qt would wait 30 s for
    // them to age. The next opening must not wait on them.
    void locks_left_by_a_killed_writer_are_not_waited_for() {
        connection const c = sample(QStringLiteral("Travada"));
        QString const path = kelvra::putty_session_path(c.name);
        QString const work = home_.home() + QStringLiteral("/.putty/kelvra-profile.work/");
        QVERIFY(QDir().mkpath(work) && QDir().mkpath(QFileInfo(path).path()));
        for (QString const& lock : {path + QStringLiteral(".lock"),
                                    work + QFileInfo(path).fileName() + QStringLiteral(".lock")}) {
            QVERIFY(QFile(lock).open(QIODevice::WriteOnly));
        }
        core::result::stack status;
        auto writing = std::async(std::launch::async, [&] {
            kelvra::write_putty_profile(path, c, QStringLiteral("id"), status);
        });
        QVERIFY2(writing.wait_for(std::chrono::seconds(20)) == std::future_status::ready,
                 "the profile writer waits on a stale lock");
        QVERIFY(!status.has_failed());
        QVERIFY(read_file(path).contains("HostName=mirtel.example.com"));
    }

    // A live writer holds the lock: the opening waits a bounded time, then
    // reports the profile as busy instead of writing beside it.
    void a_live_writer_is_never_written_beside() {
        QString const lock_path = home_.home() + QStringLiteral("/.putty/kelvra-profile.lock");
        int const fd = ::open(QFile::encodeName(lock_path).constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        auto release = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        connection const c = sample(QStringLiteral("Ocupada"));
        core::result::stack status;
        kelvra::write_putty_profile(kelvra::putty_session_path(c.name), c, QStringLiteral("id"),
                                    status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.get_value(), int(kelvra::status::persist_session_category::file_error));
        QCOMPARE(QString::fromStdString(*status.begin()->find_argument("filename")), lock_path);
        QVERIFY(!QFile::exists(kelvra::putty_session_path(c.name)));
    }

    void two_openings_register_two_ids() {
        core::result::stack status;
        connection const c = sample();
        launch_and_wait(c, QStringLiteral("A"), status);
        QString const first = environment_id(kelvra::putty_session_path(c.name));
        launch_and_wait(c, QStringLiteral("B"), status);
        QString const second = environment_id(kelvra::putty_session_path(c.name));
        QVERIFY(!status.has_failed());
        QVERIFY(first != second);
        QVERIFY(first.startsWith(QStringLiteral("7b")) && first.endsWith(QStringLiteral("7d")));
        for (QString const& id : {first, second}) {
            auto const found = manager::instance().find(id);
            QVERIFY(found.has_value());
            QCOMPARE(found->printers, c.printers);
        }
    }

    // Failures after the profile is written register the id and start
    // nothing; an unwritable profile fails before.
    void failed_launches_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("registered");
        QTest::newRow("invalid auth") << "Invalida"
                                      << "kelvra-load-session 11 Invalida" << true;
        QTest::newRow("no terminal program") << "SemPutty"
                                             << "kelvra-application-directories 2" << true;
        QTest::newRow("folder in the profile's place") << "Bloqueada"
                                                       << "kelvra-settings-error" << false;
    }

    void failed_launches() {
        QFETCH(QString, name);
        QFETCH(QString, failure);
        QFETCH(bool, registered);
        connection c = sample(name);
        c.auth_type = name == "Invalida" ? authentication_type::invalid : c.auth_type;
        kelvra::testing::install_root bare;
        QVERIFY(registered || QDir().mkpath(kelvra::putty_session_path(name) + "/x"));
        core::result::stack status;
        manager::instance().launch_from(name == "SemPutty" ? bare.bin() : root_.bin(), c, "T",
                                        status);
        QVERIFY(status.has_failed());
        auto const* session = status.begin()->find_argument("session-name");
        QCOMPARE(QString("%1 %2 %3")
                     .arg(status.begin()->get_category().name())
                     .arg(status.get_value())
                     .arg(session ? QString::fromStdString(*session) : QString())
                     .left(failure.size()),
                 failure);
        QVERIFY(!manager::instance().has_running());
        QCOMPARE(
            manager::instance().find(environment_id(kelvra::putty_session_path(name))).has_value(),
            registered);
        QVERIFY(recorded_calls(records_.path()).isEmpty());
    }

    void running_until_finished_and_failed_start_is_forgotten() {
        QString const hold = records_.filePath(QStringLiteral("hold"));
        QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        auto restore = qScopeGuard([] { qunsetenv("KELVRA_RECORD_HOLD"); });

        QSignalSpy finished(&manager::instance(), &manager::all_finished);
        core::result::stack status;
        manager::instance().launch_from(root_.bin(), sample(), QStringLiteral("T"), status);
        QVERIFY(manager::instance().has_running());
        QTRY_COMPARE_WITH_TIMEOUT(recorded_calls(records_.path()).size(), 1, 30000);
        QVERIFY(manager::instance().has_running());
        QFile::remove(hold);
        QVERIFY(finished.wait(30000));
        QVERIFY(!manager::instance().has_running());

        // A program that cannot be executed never finishes; it must not
        // stay "running".
        kelvra::testing::install_root broken;
        QVERIFY(broken.write(QStringLiteral("libexec/putty"), "#!/nonexistent/interpreter\n"));
        QFile::setPermissions(broken.file(QStringLiteral("libexec/putty")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSignalSpy failed(&manager::instance(), &manager::launch_failed);
        manager::instance().launch_from(broken.bin(), sample(), QStringLiteral("T"), status);
        QVERIFY(!status.has_failed());
        QTRY_VERIFY_WITH_TIMEOUT(!manager::instance().has_running(), 30000);
        // ... and the caller hears of it, to show it.
        QCOMPARE(failed.size(), 1);
        auto const report = failed.first().first().value<core::result::stack>();
        QCOMPARE(QByteArray(report.begin()->get_category().name()),
                 QByteArray("kelvra-application-directories"));
        QCOMPARE(*report.begin()->find_argument("session-name"), std::string("Vendas"));
        QCOMPARE(QString::fromStdString(*report.begin()->find_argument("path")),
                 broken.file(QStringLiteral("libexec/putty")));
    }
};

QTEST_GUILESS_MAIN(tst_launcher)
#include "tst_launcher.moc"
