#include "core/describe_stack.hpp"
#include "crypto/detail/linux/dbus_call_property.hpp"
#include "crypto/detail/linux/installation_identity.hpp"
#include "crypto/detail/linux/read_device_number.hpp"
#include "crypto/installation_identity.hpp"
#include "crypto/status.hpp"
#include "support/private_bus.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <memory>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace core = brano::core::v6;
namespace crypto = kelvra::crypto;
namespace linux_detail = kelvra::crypto::detail::linux;

namespace {

QString const drives = "/org/freedesktop/UDisks2/drives/";

std::string argument(core::result::stack const& stack, char const* name) {
    std::string const* value = stack.begin()->find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

// A machine in a temporary folder: the program and the link to it, a mount
// table, /dev and sysfs, with `paths` pointing at them.
struct fake_system {
    fake_system() {
        write("bin/kelvra", "program");
        QFile::link(root + "bin/kelvra", root + "exe");
        struct stat program {};
        ::stat(QFile::encodeName(root + "bin/kelvra").constData(), &program);
        numbers = QByteArray::number(major(program.st_dev)) + ':' +
                  QByteArray::number(minor(program.st_dev));
        auto at = [this](char const* relative) { return (root + relative).toStdString(); };
        paths.program_link = at("exe");
        paths.mountinfo = at("mountinfo");
        paths.dev = at("dev/");
        paths.dev_mapper = at("dev/mapper/");
        paths.sys_block = at("sys/block/");
        paths.sys_dev_block = at("sys/dev/block/");
    }

    void write(QString const& relative, QByteArray const& content) const {
        QDir().mkpath(QFileInfo(root + relative).path());
        QFile file(root + relative);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }

    // The program's file system mounted from <root>/dev/`name`, after another entry.
    void mount(QByteArray const& name) const {
        write("mountinfo", "30 1 8:99 / /a rw - ext4 /dev/other rw\n31 1 " + numbers +
                               " / /b rw - ext4 " + QFile::encodeName(root) + "dev/" + name +
                               " rw\n");
    }

    // ... from device-mapper volume vg-root (dm-3, 253:3) over `slaves`; a
    // slave whose name ends in a digit is a partition.
    void mapper(QStringList const& slaves) const {
        write("dev/mapper/.keep", {});
        write("dev/dm-3", {});
        QFile::link("../dm-3", root + "dev/mapper/vg-root");
        write("sys/block/dm-3/dev", "253:3\n");
        QDir().mkpath(root + "sys/dev/block/253:3/slaves");
        for (int i = 0; i < slaves.size(); ++i) {
            write("sys/devices/" + slaves[i] + "/dev", "8:" + QByteArray::number(i) + '\n');
            if (slaves[i].back().isDigit()) {
                write("sys/devices/" + slaves[i] + "/start", "2048\n");
            }
            QFile::link("../../../../devices/" + slaves[i],
                        root + "sys/dev/block/253:3/slaves/" + slaves[i]);
        }
        mount("mapper/vg-root");
    }

    QTemporaryDir dir;
    QString const root = QDir(dir.path()).canonicalPath() + '/';
    crypto::system_paths paths;
    QByteArray numbers; // the program's device, "MAJ:MIN"
};

QStringList drive_of(QString const& element, QString const& drive, QString const& serial) {
    return {"--block", element + "=o:" + drives + drive, "--drive",
            drives + drive + "=s:" + serial};
}

// What the identity finds on this machine for the program at `program`, up
// to the bus.
crypto::identity_trace trace_of(QString const& program) {
    QTemporaryDir dir;
    crypto::system_paths paths;
    paths.program_link = dir.filePath("exe").toStdString();
    crypto::identity_trace trace;
    core::result::stack status;
    if (QFile::link(program, dir.filePath("exe"))) {
        crypto::get_installation_identity(paths, &trace, status);
    }
    return trace;
}

} // namespace

class tst_installation_identity : public QObject {
    Q_OBJECT

    std::unique_ptr<kelvra::testing::private_bus> bus_;

    void start_standin(QStringList const& arguments) {
        QVERIFY2(bus_->start_standin(arguments), qPrintable(bus_->error()));
    }

private slots:
    void initTestCase() {
        bus_ = std::make_unique<kelvra::testing::private_bus>(KELVRA_PRIVATE_BUS_CONFIG,
                                                              KELVRA_UDISKS2_STANDIN);
        QVERIFY2(bus_->is_running(), qPrintable(bus_->error()));
    }

    void cleanup() { bus_->stop_standin(); }

    void cleanupTestCase() { bus_.reset(); }

    void identity_data() {
        QTest::addColumn<QStringList>("slaves"); // empty: the plain device dm-0
        QTest::addColumn<QStringList>("standin");
        QTest::addColumn<QString>("expected");
        // The stand-in knows only the devices that must be looked up.
        QStringList const a1 = drive_of("sda1", "disk_a", "WD-A1");
        QTest::newRow("plain device, its dash escaped")
            << QStringList() << drive_of("dm_2d0", "disk_a", "WD-A1") << "WD-A1";
        QTest::newRow("mapper over two partitions of one drive")
            << QStringList{"sda1", "sda2"} << a1 + drive_of("sda2", "disk_a", "WD-A1") << "WD-A1";
        QTest::newRow("mapper over partitions of two drives, sorted")
            << QStringList{"sda1", "sdb1"}
            << drive_of("sda1", "disk_z", "ZZ-9") + drive_of("sdb1", "disk_a", "AA-1")
            << "AA-1|ZZ-9";
        QTest::newRow("mapper over whole disks")
            << QStringList{"sda", "sdb"} << QStringList() << "";
        QTest::newRow("mapper over a partition and a whole disk")
            << QStringList{"sda1", "sdb"} << a1 << "WD-A1";
    }

    void identity() {
        QFETCH(QStringList, slaves);
        QFETCH(QStringList, standin);
        QFETCH(QString, expected);
        fake_system machine;
        if (slaves.isEmpty()) {
            machine.mount("dm-0");
        } else {
            machine.mapper(slaves);
        }
        start_standin(standin);
        core::result::stack status;
        std::string const found = crypto::get_installation_identity(machine.paths, nullptr, status);
        QVERIFY2(!status.has_failed(), kelvra::describe_stack(status).c_str());
        QCOMPARE(QString::fromStdString(found), expected);
    }

    // "<program>" stands for the program's device numbers, "<root>/" for the fake root.
    void device_failures_data() {
        QTest::addColumn<QByteArray>("mountinfo"); // replaces the mapper's mount table
        QTest::addColumn<QString>("removed");      // "<outside>": the volume lies outside /dev
        QTest::addColumn<int>("code");             // 0: found on sdc3
        QTest::addColumn<QString>("description");
        auto row = [](char const* name, QByteArray const& mountinfo, QString const& removed,
                      int code, QString const& description = {}) {
            QTest::newRow(name) << mountinfo << removed << code << description;
        };
        row("first matching mount entry wins",
            "36 1 7:1 / /a rw - ext4 <root>/dev/loop1 rw\n"
            "37 1 <program> / / rw - ext4 <root>/dev/sdc3 rw\n"
            "38 1 <program> / /b rw - ext4 <root>/dev/sdd1 rw\n",
            {}, 0);
        row("not in the mount table", "36 1 8:1 / / rw - ext4 /dev/sda1 rw\n", {}, 2);
        row("entry without a source path",
            "36 1 8:1 / /a rw - ext4 LABEL=dados rw\n"
            "37 1 <program> / / rw - ext4 <root>/dev/sdc3 rw\n",
            {}, 3);
        row("entry with device number 0",
            "37 1 <program> / / rw - ext4 <root>/dev/sdc3 rw\n"
            "38 1 0:0 / /b rw - ext4 /dev/sdb1 rw\n",
            {}, 4);
        row("mount table missing", {}, "mountinfo", 1,
            "mnt_new_table_from_file() returned nullptr");
        row("program link missing", {}, "exe", 1, "readlink() returned -1");
        row("program gone", {}, "bin/kelvra", 1, "stat() returned -1");
        row("volume outside /dev", {}, "<outside>", 3);
        QString const call = "Ocorreu um erro ao executar a função ";
        row("dangling volume link", {}, "dev/dm-3", 1,
            call + "realpath com o path '<root>/dev/mapper/vg-root'");
        row("no dev attribute", {}, "sys/block/dm-3/dev", 1,
            call + "open() com o path '<root>/sys/block/dm-3/dev'");
        row("no slaves folder", {}, "sys/dev/block/253:3", 1,
            call + "opendir com o path '<root>/sys/dev/block/253:3/slaves/'");
        row("slave without dev attribute", {}, "sys/devices/sda1/dev", 1,
            call + "open() com o path '<root>/sys/devices/sda1/dev'");
    }

    void device_failures() {
        QFETCH(QByteArray, mountinfo);
        QFETCH(QString, removed);
        QFETCH(int, code);
        QFETCH(QString, description);
        fake_system machine;
        machine.mapper({"sda1"});
        if (!mountinfo.isEmpty()) {
            machine.write("mountinfo", mountinfo.replace("<program>", machine.numbers)
                                           .replace("<root>/", QFile::encodeName(machine.root)));
        } else if (removed == "<outside>") {
            machine.paths.dev = (machine.root + "elsewhere/").toStdString();
        } else {
            QVERIFY(QFileInfo(machine.root + removed).isDir()
                        ? QDir(machine.root + removed).removeRecursively()
                        : QFile::remove(machine.root + removed));
        }
        start_standin(drive_of("sdc3", "disk_c", "SER-C"));
        core::result::stack status;
        std::string const found = crypto::get_installation_identity(machine.paths, nullptr, status);
        QCOMPARE(status.get_value(), code);
        QCOMPARE(found, std::string(code == 0 ? "SER-C" : ""));
        QVERIFY(code == 0 ||
                &status.begin()->get_category() == &crypto::status::device_category::instance());
        if (code == 1) {
            QCOMPARE(QString::fromStdString(argument(status, "description")),
                     description.replace("<root>/", machine.root));
            QCOMPARE(argument(status, "errno-code"), std::string("2"));
        }
    }

    // The link target is read whole or refused; never cut and never read past.
    void program_link_must_fit() {
        QTemporaryDir dir;
        std::string const target = "/" + std::string(30, 'x');
        std::string const link = dir.filePath("exe").toStdString();
        QVERIFY(::symlink(target.c_str(), link.c_str()) == 0);
        core::result::stack status;
        QCOMPARE(linux_detail::read_program_path(link, 32, status), target); // room for the zero
        QVERIFY(!status.has_failed());
        QVERIFY(linux_detail::read_program_path(link, 31, status).empty()); // fills the buffer
        QCOMPARE(status.get_value(), 1);
        QCOMPARE(argument(status, "errno-code"), std::string("36"));
    }

    void device_number_text_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::newRow("out of range") << QByteArray("99999999999:5") << 0 << 0;
        QTest::newRow("longer than read") << QByteArray("12:") + QByteArray(300, '3') << 12 << 0;
    }

    void device_number_text() {
        QFETCH(QByteArray, text);
        QFETCH(int, major);
        QFETCH(int, minor);
        fake_system machine;
        machine.write("dev", text);
        core::result::stack status;
        linux_detail::device_number const number =
            linux_detail::read_device_number((machine.root + "dev").toStdString(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(number.major, major);
        QCOMPARE(number.minor, minor);
    }

    void object_path_elements_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("element");
        QTest::newRow("underscore stays") << QByteArray("md_127") << QByteArray("md_127");
        QTest::newRow("dot and slash") << QByteArray("a.b/c") << QByteArray("a_2eb_2fc");
        QTest::newRow("UTF-8 bytes") << QByteArray("d\xc3\xa9") << QByteArray("d_c3_a9");
    }

    void object_path_elements() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, element);
        QCOMPARE(
            QByteArray::fromStdString(linux_detail::escape_object_path_element(name.toStdString())),
            element);
    }

    void dbus_failures_data() {
        QTest::addColumn<QByteArray>("device");
        QTest::addColumn<QStringList>("standin"); // empty: no UDisks2 on the bus
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        auto row = [](char const* name, QStringList const& standin, int code, char const* key,
                      char const* value, QByteArray const& device = "sda2") {
            QTest::newRow(name) << device << standin << code << key << value;
        };
        QString const drive = drives + "disk_a";
        QStringList const a2 = drive_of("sda2", "disk_a", "WD-A1");
        row("no UDisks2 on the bus", {}, 2, "error-name",
            "org.freedesktop.DBus.Error.ServiceUnknown");
        // The stand-in answers after 5 s: a call that waited for it would succeed.
        row("late reply", a2 + QStringList{"--delay-ms", "5000"}, 2, "error-name",
            "org.freedesktop.DBus.Error.NoReply");
        row("reply without arguments", {"--block", "sda2=none:"}, 2, "Arg-2", "Drive");
        row("drive outside a variant", {"--block", "sda2=raw:" + drive}, 3, "unexpected_type",
            "115");
        row("drive as a string", {"--block", "sda2=s:" + drive}, 4, "unexpected_type", "115");
        row("serial as a number", {"--block", "sda2=o:" + drive, "--drive", drive + "=i:42"}, 4,
            "unexpected_type", "105");
        // libdbus would end the process on an invalid object path.
        row("unusable device name", a2, 6, "path", "/org/freedesktop/UDisks2/block_devices/", "");
    }

    void dbus_failures() {
        QFETCH(QByteArray, device);
        QFETCH(QStringList, standin);
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(QString, value);
        fake_system machine;
        machine.mount(device);
        if (!standin.isEmpty()) {
            start_standin(standin);
        }
        core::result::stack status;
        QVERIFY(crypto::get_installation_identity(machine.paths, nullptr, status).empty());
        QCOMPARE(status.size(), std::size_t(1));
        QVERIFY(&status.begin()->get_category() == &crypto::status::dbus_category::instance());
        QCOMPARE(status.get_value(), code);
        QCOMPARE(QString::fromStdString(argument(status, name.toLatin1().constData())), value);
    }

    void concurrent_lookups_share_the_bus() {
        fake_system machine;
        machine.mapper({"sda1", "sdb1"});
        start_standin(drive_of("sda1", "disk_z", "ZZ-9") + drive_of("sdb1", "disk_a", "AA-1"));
        auto run = [&machine] {
            std::string result;
            for (int i = 0; i < 5 && result != "failed"; ++i) {
                core::result::stack status;
                result = crypto::get_installation_identity(machine.paths, nullptr, status);
                result = status.has_failed() ? "failed" : result;
            }
            return result;
        };
        std::vector<std::future<std::string>> runs;
        for (int i = 0; i < 4; ++i) {
            runs.push_back(std::async(std::launch::async, run));
        }
        for (auto& result : runs) {
            QCOMPARE(result.get(), std::string("AA-1|ZZ-9"));
        }
    }

    void diagnostic_program() {
        QString const program = KELVRA_IDENTITY_DIAGNOSTIC;
        crypto::identity_trace const trace = trace_of(program);
        if (!trace.found_mount) {
            QSKIP("the build folder's file system is not in this machine's mount table");
        }
        QProcess diagnostic;
        auto run = [&](QString const& serial) {
            QStringList table;
            for (auto const& name : trace.block_devices) {
                std::string const kernel = name.rfind("/dev/", 0) == 0 ? name.substr(5) : name;
                table += drive_of(
                    QString::fromStdString(linux_detail::escape_object_path_element(kernel)),
                    "disk_0", serial);
            }
            if (!table.isEmpty()) {
                start_standin(table);
            }
            diagnostic.start(program, QStringList());
            return diagnostic.waitForFinished(30000) ? diagnostic.readAllStandardOutput()
                                                     : QByteArray("did not finish");
        };
        // Drives without serials (or none at all): a key any machine can rebuild.
        QByteArray const empty = run("");
        QCOMPARE(diagnostic.exitCode(), 0);
        QVERIFY2(empty.startsWith("programa: " + QFile::encodeName(program) + "\nmontagem: ") &&
                     empty.contains(' ' + QByteArray::fromStdString(trace.mount.source_path) +
                                    "\ndispositivos: ") &&
                     empty.contains("identidade: \"\"\naviso: a identidade desta instalação "
                                    "está vazia (") &&
                     empty.endsWith("quem copiar os arquivos das sessões pode decifrá-los em "
                                    "outra máquina.\n"),
                 empty.constData());
        if (trace.block_devices.empty()) {
            return;
        }
        QByteArray const output = run("DIAG-SERIAL");
        QCOMPARE(diagnostic.exitCode(), 0);
        QVERIFY2(output.endsWith(" -> " + drives.toUtf8() +
                                 "disk_0 serial \"DIAG-SERIAL\"\nidentidade: \"DIAG-SERIAL\"\n"),
                 output.constData());

        // No bus at all where the system bus should be.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/no-bus");
        diagnostic.setProcessEnvironment(environment);
        QByteArray const no_bus = run("DIAG-SERIAL");
        QCOMPARE(diagnostic.exitCode(), 1);
        QVERIFY2(no_bus.contains("falha:\nkelvra-crypto-linux-dbus: Ocorreu um erro interno no "
                                 "dbus\n    name: org.freedesktop.DBus.Error.") &&
                     !no_bus.contains("identidade:"),
                 no_bus.constData());
    }

    // Installing again replaces the program under a running copy, which must
    // still find its file system.
    void program_replaced_while_running() {
        QString const original = KELVRA_IDENTITY_PROBE;
        crypto::identity_trace const trace = trace_of(original);
        if (!trace.found_mount) {
            QSKIP("the build folder's file system is not in this machine's mount table");
        }
        QTemporaryDir dir(QFileInfo(original).path() + "/run-XXXXXX");
        QString const program = dir.filePath("identity_probe");
        QVERIFY(QFile::copy(original, program));
        QProcess probe;
        probe.start(program, QStringList());
        QVERIFY(probe.waitForStarted(30000));
        QVERIFY(QFile::remove(program) && QFile::copy(original, program));
        probe.write("\n");
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.readAllStandardOutput(),
                 QByteArray::fromStdString(trace.mount.source_path + "\n"));
    }
};

QTEST_GUILESS_MAIN(tst_installation_identity)
#include "tst_installation_identity.moc"
