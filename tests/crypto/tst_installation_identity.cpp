#include "core/describe_stack.hpp"
#include "crypto/detail/linux/dbus_call_property.hpp"
#include "crypto/detail/linux/installation_identity.hpp"
#include "crypto/detail/linux/read_device_number.hpp"
#include "crypto/detail/linux/resolve_mapper_slaves.hpp"
#include "crypto/detail/linux/status.hpp"
#include "support/private_bus.hpp"

#include <QDir>
#include <QElapsedTimer>
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
namespace identity = kelvra::crypto::detail::linux;
using device_category = identity::status::device_category;
using dbus_category = identity::status::dbus_category;

namespace {

QString const drives = QStringLiteral("/org/freedesktop/UDisks2/drives/");

std::string argument(core::result::stack const& stack, char const* name) {
    std::string const* value = stack.begin()->find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

bool is_category(core::result::stack const& stack, core::result::category const& category) {
    return stack.has_failed() && &stack.begin()->get_category() == &category;
}

// A block device of a fake sysfs tree: kernel name, numbers, and whether it
// is a partition (has "start").
struct fake_device {
    QString name;
    int major;
    int minor;
    bool partition;
};

} // namespace

Q_DECLARE_METATYPE(fake_device)

namespace {

// A machine in a temporary folder: the program and the link to it, a mount
// table, /dev and sysfs, with `paths` pointing at them.
class fake_system {
public:
    fake_system() {
        root_ = QDir(dir_.path()).canonicalPath();
        write(QStringLiteral("bin/kelvra"), "program");
        QFile::link(root_ + QStringLiteral("/bin/kelvra"), root_ + QStringLiteral("/exe"));
        struct stat program {};
        ::stat(QFile::encodeName(root_ + QStringLiteral("/bin/kelvra")).constData(), &program);
        program_device = program.st_dev;
        paths.program_link = (root_ + QStringLiteral("/exe")).toStdString();
        paths.mountinfo = (root_ + QStringLiteral("/mountinfo")).toStdString();
        paths.dev = (root_ + QStringLiteral("/dev/")).toStdString();
        paths.dev_mapper = (root_ + QStringLiteral("/dev/mapper/")).toStdString();
        paths.sys_block = (root_ + QStringLiteral("/sys/block/")).toStdString();
        paths.sys_dev_block = (root_ + QStringLiteral("/sys/dev/block/")).toStdString();
    }

    QString root() const { return root_; }

    void write(QString const& relative, QByteArray const& content) const {
        QString const path = root_ + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    void link(QString const& target, QString const& relative) const {
        QString const path = root_ + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(QFile::link(target, path));
    }

    static QByteArray numbers(dev_t device) {
        return QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    }

    // One line per entry, in order: device numbers ("MAJ:MIN") and source.
    void mount_table(QList<QPair<QByteArray, QByteArray>> const& entries) const {
        QByteArray text = "22 27 0:21 / /proc rw,relatime - proc proc rw\n";
        int id = 30;
        for (auto const& entry : entries) {
            text += QByteArray::number(id) + " 1 " + entry.first + " / /mnt/" +
                    QByteArray::number(id) + " rw,relatime - ext4 " + entry.second + " rw\n";
            ++id;
        }
        write(QStringLiteral("mountinfo"), text);
    }

    // The program's file system on the plain device /dev/`name` of this
    // machine; returns the source path.
    QByteArray mounted_from(QByteArray const& name) const {
        QByteArray const source = QFile::encodeName(root_ + QStringLiteral("/dev/")) + name;
        mount_table({{"8:99", "/dev/other"}, {numbers(program_device), source}});
        return source;
    }

    // The program's file system on device-mapper volume `name` (node dm-3,
    // 253:3) over `slaves`; returns the source path.
    QByteArray mapper(QList<fake_device> const& slaves) const {
        write(QStringLiteral("dev/dm-3"), {});
        link(QStringLiteral("../dm-3"), QStringLiteral("dev/mapper/vg-root"));
        write(QStringLiteral("sys/block/dm-3/dev"), "253:3\n");
        QDir().mkpath(root_ + QStringLiteral("/sys/dev/block/253:3/slaves"));
        for (auto const& slave : slaves) {
            QString const folder = QStringLiteral("sys/devices/") + slave.name;
            write(folder + QStringLiteral("/dev"),
                  QByteArray::number(slave.major) + ':' + QByteArray::number(slave.minor) + '\n');
            if (slave.partition) {
                write(folder + QStringLiteral("/start"), "2048\n");
            }
            link(QStringLiteral("../../../../devices/") + slave.name,
                 QStringLiteral("sys/dev/block/253:3/slaves/") + slave.name);
        }
        QByteArray const source = QFile::encodeName(root_ + QStringLiteral("/dev/mapper/vg-root"));
        mount_table({{"8:99", "/dev/other"}, {numbers(program_device), source}});
        return source;
    }

    identity::system_paths paths;
    dev_t program_device = 0;

private:
    QTemporaryDir dir_;
    QString root_;
};

QStringList drive_of(QString const& element, QString const& drive, QString const& serial) {
    return {QStringLiteral("--block"), element + QStringLiteral("=o:") + drives + drive,
            QStringLiteral("--drive"), drives + drive + QStringLiteral("=s:") + serial};
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
        bus_ = std::make_unique<kelvra::testing::private_bus>(
            QStringLiteral(KELVRA_PRIVATE_BUS_CONFIG), QStringLiteral(KELVRA_UDISKS2_STANDIN));
        QVERIFY2(bus_->is_running(), qPrintable(bus_->error()));
    }

    void cleanup() { bus_->stop_standin(); }

    void cleanupTestCase() { bus_.reset(); }

    void identity_data() {
        QTest::addColumn<QList<fake_device>>("slaves"); // empty: a plain device
        QTest::addColumn<QByteArray>("source");         // a plain device
        QTest::addColumn<QStringList>("standin");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("looked_up");

        QList<fake_device> const none;
        QTest::newRow("plain partition")
            << none << QByteArray("sda2") << drive_of("sda2", "disk_a", "WD-A1")
            << QStringLiteral("WD-A1") << QStringList{"sda2"};
        QTest::newRow("dash in the device name")
            << none << QByteArray("dm-0") << drive_of("dm_2d0", "disk_a", "WD-A1")
            << QStringLiteral("WD-A1") << QStringList{"dm-0"};
        QTest::newRow("mapper over two partitions of one drive")
            << QList<fake_device>{{"sda1", 8, 1, true}, {"sda2", 8, 2, true}} << QByteArray()
            << drive_of("sda1", "disk_a", "WD-A1") + drive_of("sda2", "disk_a", "WD-A1")
            << QStringLiteral("WD-A1") << QStringList{"sda1", "sda2"};
        QTest::newRow("mapper over partitions of two drives, sorted")
            << QList<fake_device>{{"sda1", 8, 1, true}, {"sdb1", 8, 17, true}} << QByteArray()
            << drive_of("sda1", "disk_z", "ZZ-9") + drive_of("sdb1", "disk_a", "AA-1")
            << QStringLiteral("AA-1|ZZ-9") << QStringList{"sda1", "sdb1"};
        QTest::newRow("mapper over whole disks")
            << QList<fake_device>{{"sda", 8, 0, false}, {"sdb", 8, 16, false}} << QByteArray()
            << QStringList() << QString() << QStringList();
        QTest::newRow("mapper over a partition and a whole disk")
            << QList<fake_device>{{"sda1", 8, 1, true}, {"sdb", 8, 16, false}} << QByteArray()
            << drive_of("sda1", "disk_a", "WD-A1") << QStringLiteral("WD-A1")
            << QStringList{"sda1"};
    }

    void identity() {
        QFETCH(QList<fake_device>, slaves);
        QFETCH(QByteArray, source);
        QFETCH(QStringList, standin);
        QFETCH(QString, expected);
        QFETCH(QStringList, looked_up);

        fake_system machine;
        QByteArray const mounted =
            slaves.isEmpty() ? machine.mounted_from(source) : machine.mapper(slaves);
        start_standin(standin);

        core::result::stack status;
        identity::identity_trace trace;
        std::string const found =
            identity::get_installation_identity(machine.paths, &trace, status);
        QVERIFY2(!status.has_failed(), kelvra::describe_stack(status).c_str());
        QCOMPARE(QString::fromStdString(found), expected);
        QVERIFY(trace.found_mount);
        QCOMPARE(QByteArray::fromStdString(trace.mount.source_path), mounted);
        QCOMPARE(trace.mount.device, machine.program_device);
        QStringList names;
        for (auto const& drive : trace.drives) {
            names << QString::fromStdString(drive.block_device);
        }
        QCOMPARE(names, looked_up);
    }

    void first_matching_mount_entry_wins() {
        fake_system machine;
        QByteArray const numbers = fake_system::numbers(machine.program_device);
        QByteArray const dev = QFile::encodeName(machine.root()) + "/dev/";
        machine.mount_table(
            {{"7:1", dev + "loop1"}, {numbers, dev + "sdc3"}, {numbers, dev + "sdd1"}});
        start_standin(drive_of("sdc3", "disk_c", "SER-C"));
        core::result::stack status;
        QCOMPARE(identity::get_installation_identity(machine.paths, nullptr, status),
                 std::string("SER-C"));
        QVERIFY(!status.has_failed());
    }

    void mount_table_failures_data() {
        QTest::addColumn<QByteArray>("mountinfo"); // "<program>" stands for its numbers
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("not in the mount table")
            << QByteArray("36 1 8:1 / / rw - ext4 /dev/sda1 rw\n") << 2 << QString() << QString();
        QTest::newRow("empty mount table") << QByteArray() << 2 << QString() << QString();
        QTest::newRow("entry without a source path")
            << QByteArray("36 1 8:1 / /a rw - ext4 LABEL=dados rw\n"
                          "37 1 <program> / / rw - ext4 /dev/sda2 rw\n")
            << 3 << QStringLiteral("source-path") << QStringLiteral("nullptr");
        QTest::newRow("entry with device number 0")
            << QByteArray("37 1 <program> / / rw - ext4 /dev/sda2 rw\n"
                          "38 1 0:0 / /b rw - ext4 /dev/sdb1 rw\n")
            << 4 << QStringLiteral("device-id") << QStringLiteral("0");
    }

    void mount_table_failures() {
        QFETCH(QByteArray, mountinfo);
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(QString, value);
        fake_system machine;
        machine.write(QStringLiteral("mountinfo"),
                      mountinfo.replace("<program>", fake_system::numbers(machine.program_device)));
        core::result::stack status;
        identity::identity_trace trace;
        QVERIFY(identity::get_installation_identity(machine.paths, &trace, status).empty());
        QVERIFY(is_category(status, device_category::instance()));
        QCOMPARE(status.get_value(), code);
        if (!name.isEmpty()) {
            QCOMPARE(QString::fromStdString(argument(status, name.toLatin1().constData())), value);
        }
        QVERIFY(trace.drives.empty());
    }

    void system_call_failures_data() {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("errno_code");
        QTest::newRow("mount table missing")
            << QStringLiteral("mountinfo")
            << QStringLiteral("mnt_new_table_from_file() returned nullptr") << QStringLiteral("2");
        QTest::newRow("program link is no link")
            << QStringLiteral("link-is-file") << QStringLiteral("readlink() returned -1")
            << QStringLiteral("22");
        QTest::newRow("program link missing")
            << QStringLiteral("link-missing") << QStringLiteral("readlink() returned -1")
            << QStringLiteral("2");
        QTest::newRow("program gone")
            << QStringLiteral("program") << QStringLiteral("stat() returned -1")
            << QStringLiteral("2");
    }

    void system_call_failures() {
        QFETCH(QString, broken);
        QFETCH(QString, description);
        QFETCH(QString, errno_code);
        fake_system machine;
        machine.mounted_from("sda2");
        if (broken == QLatin1String("mountinfo")) {
            QFile::remove(machine.root() + QStringLiteral("/mountinfo"));
        } else if (broken == QLatin1String("link-is-file")) {
            machine.paths.program_link =
                (machine.root() + QStringLiteral("/bin/kelvra")).toStdString();
        } else if (broken == QLatin1String("link-missing")) {
            machine.paths.program_link =
                (machine.root() + QStringLiteral("/nothing")).toStdString();
        } else {
            QFile::remove(machine.root() + QStringLiteral("/bin/kelvra"));
        }
        core::result::stack status;
        QVERIFY(identity::get_installation_identity(machine.paths, nullptr, status).empty());
        QVERIFY(is_category(status, device_category::instance()));
        QCOMPARE(status.get_value(), 1);
        QCOMPARE(QString::fromStdString(argument(status, "description")), description);
        QCOMPARE(QString::fromStdString(argument(status, "errno-code")), errno_code);
    }

    void program_link_must_fit_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("fits");
        QTest::newRow("one byte left for the terminator") << 31 << true;
        QTest::newRow("fills the buffer") << 32 << false;
        QTest::newRow("longer than the buffer") << 200 << false;
    }

    // The link target is read whole or refused; never cut and never read past.
    void program_link_must_fit() {
        QFETCH(int, length);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        QByteArray const target = QByteArray("/") + QByteArray(length - 1, 'x');
        QString const link = dir.filePath(QStringLiteral("exe"));
        QVERIFY(::symlink(target.constData(), QFile::encodeName(link).constData()) == 0);
        core::result::stack status;
        std::string const read = identity::read_program_path(link.toStdString(), 32, status);
        QCOMPARE(!status.has_failed(), fits);
        if (fits) {
            QCOMPARE(QByteArray::fromStdString(read), target);
        } else {
            QVERIFY(read.empty());
            QCOMPARE(status.get_value(), 1);
            QCOMPARE(argument(status, "errno-code"), std::string("36"));
        }
    }

    void mapper_failures_data() {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description"); // "<root>" stands for the fake root
        QTest::newRow("volume outside /dev") << QStringLiteral("outside") << 3 << QString();
        QTest::newRow("dangling volume link")
            << QStringLiteral("dangling") << 1
            << QStringLiteral("Ocorreu um erro ao executar a função realpath com o path "
                              "'<root>/dev/mapper/vg-root'");
        QTest::newRow("no dev attribute")
            << QStringLiteral("dev-attribute") << 1
            << QStringLiteral("Ocorreu um erro ao executar a função open() com o path "
                              "'<root>/sys/block/dm-3/dev'");
        QTest::newRow("no slaves folder")
            << QStringLiteral("slaves") << 1
            << QStringLiteral("Ocorreu um erro ao executar a função opendir com o path "
                              "'<root>/sys/dev/block/253:3/slaves/'");
        QTest::newRow("slave without dev attribute")
            << QStringLiteral("slave-dev") << 1
            << QStringLiteral("Ocorreu um erro ao executar a função open() com o path "
                              "'<root>/sys/devices/sda1/dev'");
    }

    void mapper_failures() {
        QFETCH(QString, broken);
        QFETCH(int, code);
        QFETCH(QString, description);
        fake_system machine;
        QByteArray const source = machine.mapper({{"sda1", 8, 1, true}});
        QString const root = machine.root();
        if (broken == QLatin1String("outside")) {
            QFile::remove(root + QStringLiteral("/dev/mapper/vg-root"));
            machine.write(QStringLiteral("elsewhere/dm-3"), {});
            machine.link(QStringLiteral("../../elsewhere/dm-3"),
                         QStringLiteral("dev/mapper/vg-root"));
        } else if (broken == QLatin1String("dangling")) {
            QFile::remove(root + QStringLiteral("/dev/dm-3"));
        } else if (broken == QLatin1String("dev-attribute")) {
            QFile::remove(root + QStringLiteral("/sys/block/dm-3/dev"));
        } else if (broken == QLatin1String("slaves")) {
            QVERIFY(QDir(root + QStringLiteral("/sys/dev/block/253:3")).removeRecursively());
        } else {
            QFile::remove(root + QStringLiteral("/sys/devices/sda1/dev"));
        }
        core::result::stack status;
        QVERIFY(identity::get_installation_identity(machine.paths, nullptr, status).empty());
        QVERIFY(is_category(status, device_category::instance()));
        QCOMPARE(status.get_value(), code);
        if (code == 3) {
            QCOMPARE(QByteArray::fromStdString(argument(status, "source-path")), source);
        } else {
            QCOMPARE(QString::fromStdString(argument(status, "description")),
                     description.replace(QStringLiteral("<root>"), root));
            QCOMPARE(argument(status, "errno-code"), std::string("2"));
        }
    }

    void device_number_text_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::newRow("sysfs form") << QByteArray("8:17\n") << 8 << 17;
        QTest::newRow("no newline") << QByteArray("253:0") << 253 << 0;
        QTest::newRow("negative") << QByteArray("-1:-2") << -1 << -2;
        QTest::newRow("not a number") << QByteArray("x:1") << 0 << 0;
        QTest::newRow("empty") << QByteArray() << 0 << 0;
        QTest::newRow("no colon") << QByteArray("8 1") << 8 << 0;
        QTest::newRow("out of range") << QByteArray("99999999999:5") << 0 << 0;
        QTest::newRow("longer than read") << QByteArray("12:") + QByteArray(300, '3') << 12 << 0;
    }

    void device_number_text() {
        QFETCH(QByteArray, text);
        QFETCH(int, major);
        QFETCH(int, minor);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("dev")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        core::result::stack status;
        identity::device_number const number =
            identity::read_device_number(file.fileName().toStdString(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(number.major, major);
        QCOMPARE(number.minor, minor);
    }

    void object_path_elements_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("element");
        QTest::newRow("partition") << QByteArray("sda2") << QByteArray("sda2");
        QTest::newRow("device-mapper node") << QByteArray("dm-0") << QByteArray("dm_2d0");
        QTest::newRow("underscore stays") << QByteArray("md_127") << QByteArray("md_127");
        QTest::newRow("dot and slash") << QByteArray("a.b/c") << QByteArray("a_2eb_2fc");
        QTest::newRow("UTF-8 bytes") << QByteArray("d\xc3\xa9") << QByteArray("d_c3_a9");
    }

    void object_path_elements() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, element);
        QCOMPARE(
            QByteArray::fromStdString(identity::escape_object_path_element(name.toStdString())),
            element);
    }

    void dbus_failures_data() {
        QTest::addColumn<QStringList>("standin"); // empty: no UDisks2 on the bus
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QString const drive = drives + QStringLiteral("disk_a");
        QTest::newRow("no UDisks2 on the bus")
            << QStringList() << 2 << QStringLiteral("error-name")
            << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown");
        QTest::newRow("unknown block device")
            << QStringList{"--block", "sdz=o:" + drive} << 2 << QStringLiteral("error-name")
            << QStringLiteral("org.freedesktop.DBus.Error.UnknownObject");
        QTest::newRow("reply without arguments")
            << QStringList{"--block", "sda2=none:"} << 2 << QStringLiteral("Arg-2")
            << QStringLiteral("Drive");
        QTest::newRow("drive outside a variant")
            << QStringList{"--block", "sda2=raw:" + drive} << 3 << QStringLiteral("unexpected_type")
            << QStringLiteral("115");
        QTest::newRow("drive as a string")
            << QStringList{"--block", "sda2=s:" + drive} << 4 << QStringLiteral("unexpected_type")
            << QStringLiteral("115");
        QTest::newRow("serial as a number")
            << QStringList{"--block", "sda2=o:" + drive, "--drive", drive + "=i:42"} << 4
            << QStringLiteral("unexpected_type") << QStringLiteral("105");
    }

    void dbus_failures() {
        QFETCH(QStringList, standin);
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(QString, value);
        fake_system machine;
        machine.mounted_from("sda2");
        if (!standin.isEmpty()) {
            start_standin(standin);
        }
        core::result::stack status;
        QVERIFY(identity::get_installation_identity(machine.paths, nullptr, status).empty());
        QVERIFY(is_category(status, dbus_category::instance()));
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(status.get_value(), code);
        QCOMPARE(QString::fromStdString(argument(status, name.toLatin1().constData())), value);
        if (code == 2) {
            QCOMPARE(argument(status, "message-destination"),
                     std::string("org.freedesktop.UDisks2"));
            QCOMPARE(argument(status, "message-interface"),
                     std::string("org.freedesktop.DBus.Properties"));
            QCOMPARE(argument(status, "message-method"), std::string("Get"));
            QCOMPARE(argument(status, "Arg-1"), std::string("org.freedesktop.UDisks2.Block"));
        } else if (code == 3) {
            QCOMPARE(argument(status, "expected_type"), std::string("118"));
        } else {
            bool const serial = standin.size() > 2;
            QCOMPARE(argument(status, "expected_type"), std::string(serial ? "115" : "111"));
        }
    }

    void late_reply_fails_in_bounded_time() {
        fake_system machine;
        machine.mounted_from("sda2");
        start_standin(drive_of("sda2", "disk_a", "WD-A1") + QStringList{"--delay-ms", "5000"});
        QElapsedTimer clock;
        clock.start();
        core::result::stack status;
        QVERIFY(identity::get_installation_identity(machine.paths, nullptr, status).empty());
        // Far below the stand-in's delay: the wait was cut short.
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(is_category(status, dbus_category::instance()));
        QCOMPARE(status.get_value(), 2);
        QCOMPARE(argument(status, "error-name"), std::string("org.freedesktop.DBus.Error.NoReply"));
        QCOMPARE(argument(status, "message-path"),
                 std::string("/org/freedesktop/UDisks2/block_devices/sda2"));
    }

    // libdbus would end the process on an invalid object path.
    void unusable_device_name_is_refused() {
        fake_system machine;
        machine.mounted_from("");
        start_standin(drive_of("sda2", "disk_a", "WD-A1"));
        core::result::stack status;
        QVERIFY(identity::get_installation_identity(machine.paths, nullptr, status).empty());
        QVERIFY(is_category(status, dbus_category::instance()));
        QCOMPARE(status.get_value(), 6);
        QCOMPARE(argument(status, "path"), std::string("/org/freedesktop/UDisks2/block_devices/"));
        QCOMPARE(argument(status, "destination"), std::string("org.freedesktop.UDisks2"));
    }

    void concurrent_lookups_share_the_bus() {
        fake_system machine;
        machine.mapper({{"sda1", 8, 1, true}, {"sdb1", 8, 17, true}});
        start_standin(drive_of("sda1", "disk_z", "ZZ-9") + drive_of("sdb1", "disk_a", "AA-1"));
        auto run = [&machine] {
            std::string result;
            for (int i = 0; i < 5; ++i) {
                core::result::stack status;
                result = identity::get_installation_identity(machine.paths, nullptr, status);
                if (status.has_failed()) {
                    return std::string("failed");
                }
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

    void sysfs_mode_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("expected"); // empty: fails
        QTest::newRow("partition: the disk's serial")
            << QByteArray("sda1") << QStringLiteral("S3Z9NB0K");
        QTest::newRow("whole disk: its device's wwid")
            << QByteArray("vdb") << QStringLiteral("naa.5000c500a1b2c3d4");
        QTest::newRow("no serial: the disk's name") << QByteArray("sdc") << QStringLiteral("sdc");
        QTest::newRow("virtual device: no drive") << QByteArray("dm-0") << QString();
        QTest::newRow("unknown device") << QByteArray("sdq") << QString();
    }

    void sysfs_mode() {
        QFETCH(QByteArray, source);
        QFETCH(QString, expected);
        fake_system machine;
        QString const sys = machine.root() + QStringLiteral("/fakesys");
        machine.write(QStringLiteral("fakesys/devices/pci/block/sda/serial"), "  S3Z9NB0K \n");
        machine.write(QStringLiteral("fakesys/devices/pci/block/sda/sda1/partition"), "1\n");
        machine.write(QStringLiteral("fakesys/devices/pci/block/vdb/device/wwid"),
                      "naa.5000c500a1b2c3d4\n");
        machine.write(QStringLiteral("fakesys/devices/pci/block/sdc/size"), "100\n");
        machine.write(QStringLiteral("fakesys/devices/virtual/block/dm-0/dm/name"), "vg-root\n");
        for (auto const* device : {"sda", "sda/sda1", "vdb", "sdc"}) {
            machine.link(sys + QStringLiteral("/devices/pci/block/") + QLatin1String(device),
                         QStringLiteral("fakesys/class/block/") +
                             QFileInfo(QLatin1String(device)).fileName());
        }
        machine.link(sys + QStringLiteral("/devices/virtual/block/dm-0"),
                     QStringLiteral("fakesys/class/block/dm-0"));
        machine.mounted_from(source);
        start_standin({QStringLiteral("--sysfs"), sys});

        core::result::stack status;
        std::string const found =
            identity::get_installation_identity(machine.paths, nullptr, status);
        QCOMPARE(!status.has_failed(), !expected.isEmpty());
        QCOMPARE(QString::fromStdString(found), expected);
    }

    void diagnostic_program() {
        // What the program will find for itself, up to the bus.
        QTemporaryDir dir;
        QString const link = dir.filePath(QStringLiteral("exe"));
        QVERIFY(QFile::link(QStringLiteral(KELVRA_IDENTITY_DIAGNOSTIC), link));
        identity::system_paths paths;
        paths.program_link = link.toStdString();
        identity::identity_trace trace;
        core::result::stack status;
        identity::get_installation_identity(paths, &trace, status);
        if (!trace.found_mount) {
            QSKIP("the build folder's file system is not in this machine's mount table");
        }
        QStringList table;
        for (auto const& name : trace.block_devices) {
            std::string const kernel = name.rfind("/dev/", 0) == 0 ? name.substr(5) : name;
            table += drive_of(QString::fromStdString(identity::escape_object_path_element(kernel)),
                              QStringLiteral("disk_0"), QStringLiteral("DIAG-SERIAL"));
        }
        QString const expected =
            trace.block_devices.empty() ? QString() : QStringLiteral("DIAG-SERIAL");
        if (!table.isEmpty()) {
            start_standin(table);
        }

        QProcess diagnostic;
        diagnostic.start(QStringLiteral(KELVRA_IDENTITY_DIAGNOSTIC), QStringList());
        QVERIFY(diagnostic.waitForFinished(30000));
        QByteArray const output = diagnostic.readAllStandardOutput();
        QCOMPARE(diagnostic.exitCode(), 0);
        QList<QByteArray> const lines = output.split('\n');
        QVERIFY2(lines.size() >= 4, output.constData());
        QCOMPARE(lines[0],
                 "programa: " + QFile::encodeName(QStringLiteral(KELVRA_IDENTITY_DIAGNOSTIC)));
        QCOMPARE(lines[1], QByteArray("montagem: ") + fake_system::numbers(trace.mount.device) +
                               ' ' + QByteArray::fromStdString(trace.mount.source_path));
        QVERIFY(lines[2].startsWith("dispositivos: "));
        QVERIFY2(output.contains("identidade: \"" + expected.toUtf8() + "\"\n"),
                 output.constData());
        if (!table.isEmpty()) {
            QVERIFY2(output.contains(" -> " + drives.toUtf8() + "disk_0 serial \"DIAG-SERIAL\"\n"),
                     output.constData());
        }

        if (table.isEmpty()) {
            return;
        }
        bus_->stop_standin();
        diagnostic.start(QStringLiteral(KELVRA_IDENTITY_DIAGNOSTIC), QStringList());
        QVERIFY(diagnostic.waitForFinished(30000));
        QByteArray const failure = diagnostic.readAllStandardOutput();
        QCOMPARE(diagnostic.exitCode(), 1);
        QVERIFY2(failure.contains(
                     "falha:\nkelvra-crypto-linux-dbus: O dbus não informou nenhuma resposta\n"),
                 failure.constData());
        QVERIFY(failure.contains("    error-name: org.freedesktop.DBus.Error.ServiceUnknown\n"));
        QVERIFY(failure.contains("    Arg-2: Drive\n"));
        QVERIFY(!failure.contains("identidade:"));

        // No bus at all where the system bus should be.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
        diagnostic.setProcessEnvironment(environment);
        diagnostic.start(QStringLiteral(KELVRA_IDENTITY_DIAGNOSTIC), QStringList());
        QVERIFY(diagnostic.waitForFinished(30000));
        QByteArray const no_bus = diagnostic.readAllStandardOutput();
        QCOMPARE(diagnostic.exitCode(), 1);
        QVERIFY2(
            no_bus.contains("falha:\nkelvra-crypto-linux-dbus: Ocorreu um erro interno no dbus\n"
                            "    name: org.freedesktop.DBus.Error."),
            no_bus.constData());
        QVERIFY(no_bus.contains("    message: "));
    }
};

QTEST_GUILESS_MAIN(tst_installation_identity)
#include "tst_installation_identity.moc"
