// The installation identity against a private bus with the UDisks2 stand-in,
// for an installation on one partition and on a device-mapper volume over
// four partitions of four drives. The floor is one bare libdbus property read
// from the stand-in; each block device costs two of them.
//
// Prints `name value unit` lines: microseconds per call, and each case's time
// over the floor of its round trips.
#include "crypto/installation_identity.hpp"
#include "support/private_bus.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <dbus/dbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace core = brano::core::v6;
namespace identity = kelvra::crypto;

namespace {

bool write(QString const& path, QByteArray const& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A fake machine whose program lies on /dev/sda2, or on a device-mapper
// volume over sda1, sdb1, sdc1 and sdd1.
identity::system_paths fake_machine(QString const& root, int devices) {
    write(root + QStringLiteral("/bin/kelvra"), "program");
    QFile::link(root + QStringLiteral("/bin/kelvra"), root + QStringLiteral("/exe"));
    struct stat program {};
    ::stat(QFile::encodeName(root + QStringLiteral("/bin/kelvra")).constData(), &program);
    QByteArray source = QFile::encodeName(root) + "/dev/sda2";
    if (devices > 1) {
        write(root + QStringLiteral("/dev/dm-3"), {});
        QDir().mkpath(root + QStringLiteral("/dev/mapper"));
        QFile::link(QStringLiteral("../dm-3"), root + QStringLiteral("/dev/mapper/vg-root"));
        write(root + QStringLiteral("/sys/block/dm-3/dev"), "253:3\n");
        QDir().mkpath(root + QStringLiteral("/sys/dev/block/253:3/slaves"));
        for (int i = 0; i < devices; ++i) {
            QString const name = QStringLiteral("sd%11").arg(QChar(u'a' + i));
            write(root + QStringLiteral("/sys/devices/") + name + QStringLiteral("/dev"),
                  "8:" + QByteArray::number(16 * i + 1) + "\n");
            write(root + QStringLiteral("/sys/devices/") + name + QStringLiteral("/start"),
                  "2048\n");
            QFile::link(root + QStringLiteral("/sys/devices/") + name,
                        root + QStringLiteral("/sys/dev/block/253:3/slaves/") + name);
        }
        source = QFile::encodeName(root) + "/dev/mapper/vg-root";
    }
    write(root + QStringLiteral("/mountinfo"), "22 27 0:21 / /proc rw - proc proc rw\n30 1 " +
                                                   QByteArray::number(major(program.st_dev)) + ':' +
                                                   QByteArray::number(minor(program.st_dev)) +
                                                   " / / rw - ext4 " + source + " rw\n");
    identity::system_paths paths;
    paths.program_link = (root + QStringLiteral("/exe")).toStdString();
    paths.mountinfo = (root + QStringLiteral("/mountinfo")).toStdString();
    paths.dev = (root + QStringLiteral("/dev/")).toStdString();
    paths.dev_mapper = (root + QStringLiteral("/dev/mapper/")).toStdString();
    paths.sys_block = (root + QStringLiteral("/sys/block/")).toStdString();
    paths.sys_dev_block = (root + QStringLiteral("/sys/dev/block/")).toStdString();
    return paths;
}

// One bare property read from the stand-in, the way a lookup makes two per
// block device.
bool read_drive(DBusConnection* connection) {
    DBusMessage* message = dbus_message_new_method_call(
        "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/block_devices/sda2",
        "org.freedesktop.DBus.Properties", "Get");
    char const* interface = "org.freedesktop.UDisks2.Block";
    char const* property = "Drive";
    dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                             DBUS_TYPE_INVALID);
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(connection, message, 1000, &error);
    dbus_message_unref(message);
    bool const ok = reply != nullptr;
    if (reply != nullptr) {
        dbus_message_unref(reply);
    }
    dbus_error_free(&error);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    int const count = argc > 1 ? std::atoi(argv[1]) : 300;
    kelvra::testing::private_bus bus(QStringLiteral(KELVRA_PRIVATE_BUS_CONFIG),
                                     QStringLiteral(KELVRA_UDISKS2_STANDIN));
    QStringList table;
    for (int i = 0; i < 4; ++i) {
        QString const drive = QStringLiteral("/org/freedesktop/UDisks2/drives/disk_%1").arg(i);
        QString const block = QStringLiteral("sd%11").arg(QChar(u'a' + i));
        table << QStringLiteral("--block") << block + QStringLiteral("=o:") + drive
              << QStringLiteral("--drive") << drive + QStringLiteral("=s:SERIAL-%1").arg(i);
    }
    table << QStringLiteral("--block")
          << QStringLiteral("sda2=o:/org/freedesktop/UDisks2/drives/disk_0");
    if (!bus.is_running() || !bus.start_standin(table)) {
        std::fprintf(stderr, "bench_identity: %s\n", qPrintable(bus.error()));
        return 1;
    }

    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get(DBUS_BUS_SYSTEM, &error);
    if (connection == nullptr) {
        std::fprintf(stderr, "bench_identity: %s\n", error.message);
        return 1;
    }
    bool failed = false;
    double const round_trip =
        kelvra::bench::microseconds_per_call(count, [&] { failed |= !read_drive(connection); });
    dbus_connection_unref(connection);

    QTemporaryDir one_dir;
    QTemporaryDir four_dir;
    identity::system_paths const one = fake_machine(QDir(one_dir.path()).canonicalPath(), 1);
    identity::system_paths const four = fake_machine(QDir(four_dir.path()).canonicalPath(), 4);
    auto measure = [&](identity::system_paths const& paths, char const* expected) {
        return kelvra::bench::microseconds_per_call(count, [&] {
            core::result::stack status;
            failed |= identity::get_installation_identity(paths, nullptr, status) != expected ||
                      status.has_failed();
        });
    };
    double const one_device = measure(one, "SERIAL-0");
    double const four_devices = measure(four, "SERIAL-0|SERIAL-1|SERIAL-2|SERIAL-3");
    if (failed) {
        std::fprintf(stderr, "bench_identity: a call failed\n");
        return 1;
    }
    std::printf("dbus_property_read %.1f us/call\n", round_trip);
    std::printf("get_installation_identity_1_device %.1f us/call\n", one_device);
    std::printf("get_installation_identity_4_devices %.1f us/call\n", four_devices);
    std::printf("identity_1_device_over_2_property_reads %.3f ratio\n",
                one_device / (2 * round_trip));
    std::printf("identity_4_devices_over_8_property_reads %.3f ratio\n",
                four_devices / (8 * round_trip));
    return 0;
}
