#include "support/recorded_calls.hpp"

#include <QDir>
#include <QFile>

namespace kelvra::testing {

namespace {

QFileInfoList call_files(QString const& dir) {
    return QDir(dir).entryInfoList({QStringLiteral("*.args")}, QDir::Files,
                                   QDir::Time | QDir::Reversed);
}

QList<QStringList> read_calls(QString const& dir, bool remove) {
    QList<QStringList> calls;
    for (QFileInfo const& info : call_files(dir)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        QList<QByteArray> parts = file.readAll().split('\0');
        parts.removeLast(); // after the last terminator
        QStringList args;
        for (QByteArray const& part : parts) {
            args << QString::fromUtf8(part);
        }
        calls << args;
        if (remove) {
            file.remove();
        }
    }
    return calls;
}

} // namespace

QList<QStringList> recorded_calls(QString const& dir) {
    return read_calls(dir, false);
}

QList<QStringList> take_recorded_calls(QString const& dir) {
    return read_calls(dir, true);
}

bool has_recorded_calls(QString const& dir) {
    return !call_files(dir).isEmpty();
}

} // namespace kelvra::testing
