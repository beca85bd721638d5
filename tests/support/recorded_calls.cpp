#include "support/recorded_calls.hpp"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace kelvra::testing {

namespace {

QFileInfoList call_files(QString const& dir) {
    return QDir(dir).entryInfoList({QStringLiteral("*.args")}, QDir::Files);
}

// Of "<parent pid>-<pid>.args", the parent's (0) or its own (1); process ids
// grow in start order.
qint64 pid_of(QFileInfo const& info, int which) {
    return info.completeBaseName().section(QLatin1Char('-'), which, which).toLongLong();
}

QList<recorded_launch> read_launches(QString const& dir, bool remove) {
    QFileInfoList files = call_files(dir);
    std::sort(files.begin(), files.end(),
              [](QFileInfo const& a, QFileInfo const& b) { return pid_of(a, 1) < pid_of(b, 1); });
    QList<recorded_launch> launches;
    for (QFileInfo const& info : files) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly)) {
            QList<QByteArray> parts = file.readAll().split('\0');
            parts.removeLast(); // after the last terminator
            launches << recorded_launch{pid_of(info, 0), {}};
            for (QByteArray const& part : parts) {
                launches.last().arguments << QString::fromUtf8(part);
            }
            if (remove) {
                file.remove();
            }
        }
    }
    return launches;
}

QList<QStringList> arguments_of(QList<recorded_launch> const& launches) {
    QList<QStringList> calls;
    for (recorded_launch const& launch : launches) {
        calls << launch.arguments;
    }
    return calls;
}

} // namespace

QList<recorded_launch> take_recorded_launches(QString const& dir) {
    return read_launches(dir, true);
}

QList<QStringList> recorded_calls(QString const& dir) {
    return arguments_of(read_launches(dir, false));
}

QList<QStringList> take_recorded_calls(QString const& dir) {
    return arguments_of(read_launches(dir, true));
}

bool has_recorded_calls(QString const& dir) {
    return !call_files(dir).isEmpty();
}

} // namespace kelvra::testing
