#pragma once

#include "connections/connection.hpp"

#include <QString>

#include <map>
#include <mutex>
#include <optional>

namespace kelvra {

// The connections opened by this process, by connection id. Ids are added at
// every launch and never removed while the program runs. Written on the GUI
// thread and read by the tunnel thread, so every access takes the lock.
class connection_registry {
public:
    // Registers a copy of `c` under a new connection id and returns the id.
    QString add(connection const& c);
    // A copy of the connection registered under `connection_id`.
    std::optional<connection> find(QString const& connection_id) const;

    // 76 lower-case hex digits: the braced text of a new random UUID,
    // hex-encoded character by character.
    static QString new_connection_id();

private:
    mutable std::mutex lock_;
    std::map<QString, connection> connections_;
};

} // namespace kelvra
