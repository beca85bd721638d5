#pragma once

#include "connections/connection.hpp"
#include "connections/connection_registry.hpp"

#include "core/result_metatype.hpp"

#include <brano/core/v6/result.hpp>

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kelvra {

// The connections this process opened, by connection id, and the terminal
// programs it started. One object per process. The registry is also read by
// the tunnel thread (it locks itself); everything else runs on the GUI
// thread.
class manager : public QObject {
    Q_OBJECT

public:
    static manager& instance();

    // Renews the session key text (decrypt, stamp now, encrypt with a new IV)
    // and launches the connection with it.
    void open(connection const& c, brano::core::v6::result::stack& status);

    // Registers a new connection id, writes the terminal profile and starts
    // libexec/putty with `credential` as the session key text.
    void launch(connection const& c, QString const& credential,
                brano::core::v6::result::stack& status);

    // The same, for the installation whose executable lives in
    // `executable_dir` (the program passes its own folder).
    void open_from(QString const& executable_dir, connection const& c,
                   brano::core::v6::result::stack& status);
    void launch_from(QString const& executable_dir, connection const& c, QString const& credential,
                     brano::core::v6::result::stack& status);

    // A copy of the connection registered under `connection_id`.
    std::optional<connection> find(QString const& connection_id) const;

    // True while a terminal program started here is running.
    bool has_running() const { return !running_.empty(); }

    // Registers a copy of `c` under a new connection id and returns the id.
    QString register_connection(connection const& c);

    // 76 lower-case hex digits: the braced text of a new random UUID,
    // hex-encoded character by character.
    static QString new_connection_id();

    // The terminal program's arguments for a connection, in order; empty for
    // an authentication type the program cannot use.
    static QStringList putty_arguments(connection const& c, QString const& credential);

signals:
    // The last running terminal program finished.
    void all_finished();
    // A terminal program started by launch() could not run: `failure` holds
    // the report (the program and the system's reason) for the user.
    void launch_failed(brano::core::v6::result::stack const& failure);

private:
    manager();
    void on_finished(QProcess* process);
    void on_error(QProcess* process, QString const& session_name, QProcess::ProcessError error);
    void forget(QProcess* process);

    connection_registry registry_;
    std::vector<QProcess*> running_;
};

} // namespace kelvra
