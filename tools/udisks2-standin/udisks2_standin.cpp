#include "udisks2_standin.hpp"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace kelvra::tools {

namespace {

QString const block_interface = QStringLiteral("org.freedesktop.UDisks2.Block");
QString const drive_interface = QStringLiteral("org.freedesktop.UDisks2.Drive");

QString read_attribute(QString const& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.read(4096)).trimmed();
}

} // namespace

bool standin_answer::parse(QString const& text, standin_answer& answer) {
    int const colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        return false;
    }
    QString const type = text.left(colon);
    answer.value = text.mid(colon + 1);
    if (type == QLatin1String("o")) {
        answer.type = object_path;
    } else if (type == QLatin1String("s")) {
        answer.type = string;
    } else if (type == QLatin1String("i")) {
        answer.type = int32;
    } else if (type == QLatin1String("raw")) {
        answer.type = bare_string;
    } else if (type == QLatin1String("none")) {
        answer.type = no_arguments;
    } else {
        return false;
    }
    return true;
}

udisks2_standin::udisks2_standin(QObject* parent) : QDBusVirtualObject(parent) {}

QString udisks2_standin::block_devices_prefix() {
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
}

QString udisks2_standin::drives_prefix() {
    return QStringLiteral("/org/freedesktop/UDisks2/drives/");
}

QString udisks2_standin::escape_element(QString const& name) {
    QString escaped;
    for (char const c : name.toUtf8()) {
        auto const byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '_') {
            escaped += QLatin1Char(c);
        } else {
            escaped += QStringLiteral("_%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    }
    return escaped;
}

QString udisks2_standin::unescape_element(QString const& element) {
    QByteArray const in = element.toLatin1();
    QByteArray out;
    for (int i = 0; i < in.size(); ++i) {
        bool ok = false;
        int const byte = i + 2 < in.size() && in[i] == '_' ? in.mid(i + 1, 2).toInt(&ok, 16) : 0;
        if (ok) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += in[i];
        }
    }
    return QString::fromUtf8(out);
}

QString udisks2_standin::introspect(QString const&) const {
    return {};
}

bool udisks2_standin::handleMessage(QDBusMessage const& message,
                                    QDBusConnection const& connection) {
    QDBusMessage const reply = answer(message);
    if (delay_ms <= 0) {
        return connection.send(reply);
    }
    QDBusConnection target(connection);
    QTimer::singleShot(delay_ms, this, [target, reply]() mutable { target.send(reply); });
    return true;
}

QDBusMessage udisks2_standin::answer(QDBusMessage const& message) const {
    QList<QVariant> const arguments = message.arguments();
    if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties") ||
        message.member() != QLatin1String("Get") || arguments.size() != 2) {
        return message.createErrorReply(QDBusError::UnknownMethod,
                                        QStringLiteral("No such method"));
    }
    QString const interface = arguments.at(0).toString();
    QString const property = arguments.at(1).toString();
    QString const path = message.path();

    standin_answer found;
    bool known = false;
    if (interface == block_interface && property == QLatin1String("Drive") &&
        path.startsWith(block_devices_prefix())) {
        QString const element = path.mid(block_devices_prefix().size());
        if (!sysfs_root.isEmpty()) {
            known = lookup_sysfs_drive(unescape_element(element), found);
        } else if (blocks.contains(element)) {
            found = blocks.value(element);
            known = true;
        }
    } else if (interface == drive_interface && property == QLatin1String("Serial")) {
        if (!sysfs_root.isEmpty()) {
            known = path.startsWith(drives_prefix()) &&
                    lookup_sysfs_serial(unescape_element(path.mid(drives_prefix().size())), found);
        } else if (drives.contains(path)) {
            found = drives.value(path);
            known = true;
        }
    }
    if (!known) {
        return message.createErrorReply(QDBusError::UnknownObject,
                                        QStringLiteral("No property %1.%2 on object at path %3")
                                            .arg(interface, property, path));
    }

    switch (found.type) {
    case standin_answer::object_path:
        return message.createReply(
            QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(found.value)))));
    case standin_answer::string:
        return message.createReply(QVariant::fromValue(QDBusVariant(found.value)));
    case standin_answer::int32:
        return message.createReply(QVariant::fromValue(QDBusVariant(found.value.toInt())));
    case standin_answer::bare_string:
        return message.createReply(QVariant(found.value));
    case standin_answer::no_arguments:
        return message.createReply();
    }
    return message.createErrorReply(QDBusError::Failed, QStringLiteral("unreachable"));
}

// The drive of a block device: the disk itself, or the disk a partition lies
// on. Devices that no disk carries (device-mapper volumes, loop and RAM
// devices) have the drive "/", as UDisks2 reports them.
bool udisks2_standin::lookup_sysfs_drive(QString const& block, standin_answer& answer) const {
    QString const folder = sysfs_root + QStringLiteral("/class/block/") + block;
    if (block.isEmpty() || block.contains(QLatin1Char('/')) || !QFileInfo::exists(folder)) {
        return false;
    }
    QString device = QFileInfo(folder).canonicalFilePath();
    if (QFileInfo::exists(folder + QStringLiteral("/partition"))) {
        device = QFileInfo(device).path();
    }
    answer.type = standin_answer::object_path;
    if (device.contains(QStringLiteral("/devices/virtual/"))) {
        answer.value = QStringLiteral("/");
    } else {
        answer.value = drives_prefix() + escape_element(QFileInfo(device).fileName());
    }
    return true;
}

// The serial of a disk: its "serial" attribute, else the "serial" or "wwid"
// of its device. A disk that has none is known by its kernel name, which
// stays the same as long as the disk keeps its place in the machine.
bool udisks2_standin::lookup_sysfs_serial(QString const& disk, standin_answer& answer) const {
    QString const folder = sysfs_root + QStringLiteral("/class/block/") + disk;
    if (disk.isEmpty() || disk.contains(QLatin1Char('/')) || !QFileInfo::exists(folder) ||
        QFileInfo::exists(folder + QStringLiteral("/partition"))) {
        return false;
    }
    answer.type = standin_answer::string;
    for (auto const* attribute : {"/serial", "/device/serial", "/device/wwid"}) {
        QString const value = read_attribute(folder + QLatin1String(attribute));
        if (!value.isEmpty()) {
            answer.value = value;
            return true;
        }
    }
    answer.value = disk;
    return true;
}

} // namespace kelvra::tools
