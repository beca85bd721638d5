#include "support/private_bus.hpp"

#include <QDeadlineTimer>

namespace kelvra::testing {

namespace {
constexpr int start_timeout_ms = 10000;
} // namespace

private_bus::private_bus(QString const& configuration, QString const& standin_program)
    : standin_program_(standin_program), old_address_(qgetenv("DBUS_SYSTEM_BUS_ADDRESS")),
      had_address_(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")) {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + configuration,
                   QStringLiteral("--address=unix:dir=") + dir_.path(), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--nosyslog"),
                   QStringLiteral("--print-address=1")});
    QByteArray line;
    if (!daemon_.waitForStarted(start_timeout_ms) || !wait_for_line(daemon_, line)) {
        error_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString() +
                 QString::fromLocal8Bit(daemon_.readAllStandardError());
        stop(daemon_);
        return;
    }
    address_ = QString::fromLatin1(line);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", line);
}

private_bus::~private_bus() {
    stop(standin_);
    stop(daemon_);
    if (had_address_) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", old_address_);
    } else {
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

bool private_bus::start_standin(QStringList const& arguments) {
    stop_standin();
    if (!is_running()) {
        return false;
    }
    standin_.setProcessChannelMode(QProcess::SeparateChannels);
    standin_.start(standin_program_,
                   QStringList{QStringLiteral("--address"), address_} + arguments);
    QByteArray line;
    if (!standin_.waitForStarted(start_timeout_ms) || !wait_for_line(standin_, line) ||
        line != "ready") {
        error_ = QStringLiteral("the stand-in did not start: ") + standin_.errorString() +
                 QLatin1Char(' ') + QString::fromLocal8Bit(standin_.readAllStandardError());
        stop(standin_);
        return false;
    }
    return true;
}

void private_bus::stop_standin() {
    stop(standin_);
}

void private_bus::stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool private_bus::wait_for_line(QProcess& process, QByteArray& line) {
    QDeadlineTimer const deadline(start_timeout_ms);
    while (!process.canReadLine()) {
        if (process.state() == QProcess::NotRunning || deadline.hasExpired() ||
            !process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (!process.canReadLine()) {
                return false;
            }
        }
    }
    line = process.readLine().trimmed();
    return true;
}

} // namespace kelvra::testing
