// scripts/install.sh as a user runs it, into a folder whose name holds what an Exec line must
// quote, for a temporary HOME and XDG folders.
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QDirIterator>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>

using kelvra::testing::process_timeout_ms;
using kelvra::testing::read_file;
using kelvra::testing::run_program;

class tst_install : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::machine_identity identity_;
    QTemporaryDir records_;
    QString const prefix_ = home_.home() + "/opt/Kel vra \"1\" $x`&";
    QString const data_ = home_.home() + "/dados";
    QString const menu_ = data_ + "/applications/kelvra.desktop";
    QString const autostart_ = home_.home() + "/config/autostart/kelvra.desktop";

    static kelvra::testing::finished_program run(QStringList const& arguments) {
        return run_program(KELVRA_SOURCE_DIR "/scripts/install.sh", arguments);
    }
    void install(QStringList const& options = {}) {
        auto const f = run(options + QStringList{"--build-dir", KELVRA_BUILD_DIR, prefix_});
        QVERIFY2(f.code == 0, f.err.constData());
    }

    // The content of every file below etc/ and var/, by path.
    QMap<QString, QByteArray> user_files() const {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(prefix_, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QString const path = it.next().mid(prefix_.size());
            if (path.startsWith("/etc/") || path.startsWith("/var/")) {
                files[path] = read_file(it.filePath());
            }
        }
        return files;
    }
    static QString exec_line(QString const& entry) {
        return QString::fromUtf8(read_file(entry))
            .split('\n')
            .filter(QRegularExpression("^Exec="))
            .value(0);
    }

    void save(QString const& name, bool autostart) {
        QVERIFY(kelvra::testing::save_sealed_session(prefix_ + "/bin", name, autostart));
    }

private slots:
    void initTestCase() {
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        qputenv("XDG_DATA_HOME", data_.toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home_.home() + "/config").toLocal8Bit());
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
    }

    // Uninstalling removes the programs and the desktop's entries; installing
    // again, also without the login start, keeps the user's files as they were.
    // Both entries are valid and start the same program.
    void installing_again_keeps_the_users_files_and_valid_entries() {
        install();
        QCOMPARE(QImageReader(data_ + "/icons/hicolor/48x48/apps/kelvra.png").size(),
                 QSize(48, 48));
        QCOMPARE(QImageReader(data_ + "/icons/hicolor/256x256/apps/kelvra.png").size(),
                 QSize(256, 256));
        QVERIFY(kelvra::testing::write_file(prefix_ + "/etc/config.json", "{\"codigo\": 7}\n"));
        QVERIFY(kelvra::testing::write_file(prefix_ + "/etc/interface.json", "{\"tema\": 2}\n"));
        save("Vendas", true);
        save("Caixa", false);
        save("estoque", true);
        auto const before = user_files();
        QCOMPARE(before.size(), 5);
        auto const f = run({"--uninstall", prefix_});
        QVERIFY2(f.code == 0 && f.out.contains((prefix_ + "/var/sessions/").toUtf8()),
                 f.err.constData());
        QCOMPARE(user_files(), before);
        QCOMPARE(QDir(prefix_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"etc", "var"}));
        QVERIFY(!QFile::exists(menu_) && !QFile::exists(autostart_));
        QVERIFY(!QFile::exists(data_ + "/icons/hicolor/48x48/apps/kelvra.png"));
        install();
        QVERIFY(QFile::exists(autostart_));
        install({"--no-autostart"});
        QCOMPARE(user_files(), before);
        QVERIFY(!QFile::exists(autostart_));
        install();
        QCOMPARE(user_files(), before);
        for (QString const& entry : {menu_, autostart_}) {
            auto const valid = run_program("desktop-file-validate", {entry});
            QVERIFY2(valid.code == 0 && valid.out.isEmpty(), valid.out.constData());
        }
        QCOMPARE(exec_line(autostart_), exec_line(menu_) + " --auto-open-connection");
    }

    // The login start opens just the autostart sessions, from the installed
    // program, and shows no window (here a start that would show one fails).
    void login_start_opens_the_autostart_sessions() {
        QVERIFY(QFile::remove(prefix_ + "/libexec/putty"));
        QVERIFY(QFile::copy(KELVRA_RECORDING_PUTTY, prefix_ + "/libexec/putty"));
        QString const hold = records_.filePath("hold");
        QVERIFY(kelvra::testing::write_file(hold, {}));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        QProcess gio;
        gio.setStandardOutputFile(records_.filePath("session.log"));
        gio.setProcessChannelMode(QProcess::MergedChannels);
        gio.start("gio", {"launch", autostart_});
        QVERIFY(gio.waitForFinished(process_timeout_ms) && gio.exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(kelvra::testing::recorded_calls(records_.path()).size(), 2,
                                  process_timeout_ms);
        auto const calls = kelvra::testing::take_recorded_launches(records_.path());
        QCOMPARE(calls[0].arguments.value(1) + ' ' + calls[1].arguments.value(1), "estoque Vendas");
        QCOMPARE(calls[1].parent, calls[0].parent);
        QString const instance = QStringLiteral("/proc/%1").arg(calls[0].parent);
        QCOMPARE(read_file(instance + "/cmdline"),
                 (prefix_ + "/bin/kelvra").toUtf8() + '\0' + "--auto-open-connection" + '\0');
        QFile::remove(hold);
        QTRY_VERIFY_WITH_TIMEOUT(read_file(instance + "/cmdline").isEmpty(), process_timeout_ms);
        QCOMPARE(read_file(records_.filePath("session.log")),
                 "recording_putty: started\nrecording_putty: started\n");
    }

    void a_user_without_home_is_told() {
        auto const f = run_program(
            "env", {"-u", "HOME", "-u", "XDG_DATA_HOME", "-u", "XDG_CONFIG_HOME",
                    KELVRA_SOURCE_DIR "/scripts/install.sh", "--build-dir", KELVRA_BUILD_DIR});
        QVERIFY2(f.code == 1 && f.err.contains("has no home folder"), f.err.constData());
    }
};

QTEST_GUILESS_MAIN(tst_install)
#include "tst_install.moc"
