#pragma once

#include "connections/connection.hpp"

#include <brano/core/v6/result.hpp>

#include <QObject>
#include <QString>

#include <map>
#include <mutex>
#include <optional>

class QProcess;

namespace kelvra {

// The connections this process opened, by connection id, and the terminal
// programs it started. One object per process.
//
// The registry is written on the GUI thread and read by the tunnel thread,
// so every access to it takes the registry lock.
class manager : public QObject {
    Q_OBJECT

public:
    static manager& instance();

    // A copy of the connection registered under `connection_id`.
    std::optional<connection> find(QString const& connection_id) const;

    // Registers a copy of `c` under a new connection id and returns the id.
    QString register_connection(connection const& c);

    // 76 lower-case hex digits: the braced text of a new random UUID,
    // hex-encoded character by character.
    static QString new_connection_id();

private:
    manager() = default;

    mutable std::mutex registry_lock_;
    std::map<QString, connection> connections_;
};

} // namespace kelvra
