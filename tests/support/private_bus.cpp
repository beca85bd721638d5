#include "support/private_bus.hpp"

#include "support/processes.hpp"

namespace kelvra::testing {

private_bus::private_bus(QString const& configuration, QString const& standin_program)
    : standin_program_(standin_program), old_address_(qgetenv("DBUS_SYSTEM_BUS_ADDRESS")),
      had_address_(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")) {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + configuration,
                   QStringLiteral("--address=unix:dir=") + dir_.path(), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--nosyslog"),
                   QStringLiteral("--print-address=1")});
    auto const line = wait_for_line(daemon_);
    if (!line) {
        error_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString() +
                 QString::fromLocal8Bit(daemon_.readAllStandardError());
        stop_process(daemon_);
        return;
    }
    address_ = QString::fromLatin1(*line);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", *line);
}

private_bus::~private_bus() {
    stop_process(standin_);
    stop_process(daemon_);
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
    standin_.start(standin_program_,
                   QStringList{QStringLiteral("--address"), address_} + arguments);
    if (wait_for_line(standin_) != QByteArray("ready")) {
        error_ = QStringLiteral("the stand-in did not start: ") + standin_.errorString() +
                 QLatin1Char(' ') + QString::fromLocal8Bit(standin_.readAllStandardError());
        stop_process(standin_);
        return false;
    }
    return true;
}

void private_bus::stop_standin() {
    stop_process(standin_);
}

} // namespace kelvra::testing
