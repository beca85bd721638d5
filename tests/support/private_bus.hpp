#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kelvra::testing {

// A private dbus-daemon with the project's bus configuration standing in for
// the system bus: DBUS_SYSTEM_BUS_ADDRESS points at it while the object lives.
// libdbus reads that variable once per process, so a test program keeps one
// bus and starts and stops the UDisks2 stand-in on it as each case needs.
class private_bus {
public:
    // The daemon program, the bus configuration and the stand-in program.
    private_bus(QString const& configuration, QString const& standin_program);
    ~private_bus();
    private_bus(private_bus const&) = delete;
    private_bus& operator=(private_bus const&) = delete;

    bool is_running() const { return !address_.isEmpty(); }
    QString address() const { return address_; }
    // Why the daemon or the stand-in did not start.
    QString error() const { return error_; }

    // Starts the stand-in with the given arguments (after --address) and
    // waits until it owns its name; a stand-in already running is stopped
    // first.
    bool start_standin(QStringList const& arguments);
    void stop_standin();

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess standin_;
    QString standin_program_;
    QString address_;
    QString error_;
    QByteArray old_address_;
    bool had_address_ = false;
};

} // namespace kelvra::testing
