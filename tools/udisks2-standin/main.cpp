// udisks2-standin: a small stand-in for the UDisks2 service on a private bus.
//
//   udisks2-standin --address ADDRESS [--delay-ms N]
//                   [--block ELEMENT=TYPE:VALUE]... [--drive PATH=TYPE:VALUE]...
//   udisks2-standin --address ADDRESS [--delay-ms N] --sysfs ROOT
//
// It owns "org.freedesktop.UDisks2" on the bus at ADDRESS and answers
// org.freedesktop.DBus.Properties.Get for the Block "Drive" property of
// /org/freedesktop/UDisks2/block_devices/ELEMENT and the Drive "Serial"
// property of drive object paths.
//
// From a table: each --block and --drive gives one answer. TYPE is "o" (an
// object path in a variant, as UDisks2 answers "Drive"), "s" (a string in a
// variant, as it answers "Serial"), "i" (an int32 in a variant), "raw" (a
// bare string, not in a variant) or "none" (a reply without arguments).
//
// From sysfs (for machines without UDisks2): a block device is known when
// ROOT/class/block/NAME exists; its drive is the disk itself or, for a
// partition, the disk it lies on, at /org/freedesktop/UDisks2/drives/DISK.
// The serial is the disk's "serial" attribute, else its device's "serial" or
// "wwid", else the disk's kernel name.
//
// Every answer is sent N milliseconds late with --delay-ms. Anything else
// gets an error reply. "ready" on standard output says the name is owned. The
// program ends when the bus goes away.
#include "udisks2_standin.hpp"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QTextStream>

#include <cstdio>

using kelvra::tools::standin_answer;
using kelvra::tools::udisks2_standin;

namespace {

bool add_entries(QStringList const& entries, QHash<QString, standin_answer>& table) {
    for (auto const& entry : entries) {
        int const equals = entry.indexOf(QLatin1Char('='));
        standin_answer answer;
        if (equals <= 0 || !standin_answer::parse(entry.mid(equals + 1), answer)) {
            std::fprintf(stderr, "udisks2-standin: malformed entry '%s'\n", qPrintable(entry));
            return false;
        }
        table.insert(entry.left(equals), answer);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A stand-in for the UDisks2 service."));
    parser.addHelpOption();
    QCommandLineOption const address(QStringLiteral("address"),
                                     QStringLiteral("Address of the bus to serve on."),
                                     QStringLiteral("address"));
    QCommandLineOption const block(QStringLiteral("block"),
                                   QStringLiteral("Drive of a block device: ELEMENT=TYPE:VALUE."),
                                   QStringLiteral("entry"));
    QCommandLineOption const drive(QStringLiteral("drive"),
                                   QStringLiteral("Serial of a drive: PATH=TYPE:VALUE."),
                                   QStringLiteral("entry"));
    QCommandLineOption const sysfs(QStringLiteral("sysfs"),
                                   QStringLiteral("Answer from the sysfs tree at ROOT."),
                                   QStringLiteral("root"));
    QCommandLineOption const delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Send every answer this late."),
                                   QStringLiteral("milliseconds"), QStringLiteral("0"));
    parser.addOptions({address, block, drive, sysfs, delay});
    parser.process(application);

    if (!parser.isSet(address)) {
        std::fprintf(stderr, "udisks2-standin: --address is required\n");
        return 2;
    }
    udisks2_standin service;
    service.sysfs_root = parser.value(sysfs);
    bool delay_ok = false;
    service.delay_ms = parser.value(delay).toInt(&delay_ok);
    if (!delay_ok || !add_entries(parser.values(block), service.blocks) ||
        !add_entries(parser.values(drive), service.drives)) {
        return 2;
    }

    QDBusConnection bus =
        QDBusConnection::connectToBus(parser.value(address), QStringLiteral("udisks2-standin"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "udisks2-standin: cannot connect: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    if (!bus.registerVirtualObject(QStringLiteral("/"), &service, QDBusConnection::SubPath)) {
        std::fprintf(stderr, "udisks2-standin: cannot register the objects\n");
        return 1;
    }
    if (!bus.registerService(QStringLiteral("org.freedesktop.UDisks2"))) {
        std::fprintf(stderr, "udisks2-standin: cannot own the name: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                &application, SLOT(quit()));
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return application.exec();
}
