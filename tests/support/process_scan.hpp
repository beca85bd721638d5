#pragma once

// Looks for a secret in what every process of the machine shows to others:
// its command line and its environment.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace kelvra::testing {

// "PID cmdline" or "PID environ" for every process whose command line or
// environment holds `secret`. Processes that end during the scan are
// skipped.
inline QStringList processes_showing(QByteArray const& secret) {
    QStringList found;
    QDir const proc(QStringLiteral("/proc"));
    for (QString const& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        entry.toInt(&numeric);
        if (!numeric) {
            continue;
        }
        for (auto const* what : {"cmdline", "environ"}) {
            QFile file(proc.filePath(entry + QLatin1Char('/') + QLatin1String(what)));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret)) {
                found << entry + QLatin1Char(' ') + QLatin1String(what);
            }
        }
    }
    return found;
}

// Regular files below `folder` whose content holds `secret`.
inline QStringList files_holding(QString const& folder, QByteArray const& secret) {
    QStringList found;
    QDir const dir(folder);
    for (QFileInfo const& info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot |
                                                   QDir::Hidden | QDir::System)) {
        if (info.isSymLink()) {
            continue;
        }
        if (info.isDir()) {
            found << files_holding(info.filePath(), secret);
            continue;
        }
        QFile file(info.filePath());
        if (info.isFile() && file.open(QIODevice::ReadOnly) && file.readAll().contains(secret)) {
            found << info.filePath();
        }
    }
    return found;
}

} // namespace kelvra::testing
