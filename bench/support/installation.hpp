#pragma once

// A temporary installation of the built program for benchmarks that start
// it as a user would, on a virtual X server of their own.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace kelvra::bench {

// Installs the build tree `build_dir` into `prefix` and gives this process
// (and so what it starts) a private HOME and XDG_RUNTIME_DIR below `work`,
// with no platform or Wayland display forced. False when cmake failed.
inline bool install_for_a_user(QString const& build_dir, QString const& prefix,
                               QTemporaryDir const& work) {
    QProcess install;
    install.setStandardOutputFile(QProcess::nullDevice());
    install.start(QStringLiteral("cmake"),
                  {QStringLiteral("--install"), build_dir, QStringLiteral("--prefix"), prefix});
    if (!install.waitForFinished(120000) || install.exitStatus() != QProcess::NormalExit ||
        install.exitCode() != 0) {
        return false;
    }
    QDir(work.path()).mkpath(QStringLiteral("home"));
    QDir(work.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(work.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", work.filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", work.filePath(QStringLiteral("runtime")).toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    qunsetenv("WAYLAND_DISPLAY");
    return true;
}

// Starts Xvfb on a display number of its choosing and exports DISPLAY;
// returns the display (":N"), or nothing when the server did not start.
inline QByteArray start_virtual_screen(QProcess& xvfb) {
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForReadyRead(20000)) {
        return {};
    }
    QByteArray const display = ':' + xvfb.readAllStandardOutput().trimmed();
    qputenv("DISPLAY", display);
    return display;
}

} // namespace kelvra::bench
