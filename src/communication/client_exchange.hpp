#pragma once

// The client side of the single-instance exchange, as a start of the program
// uses it: ask whether an instance runs, then hand it the request. Every
// exchange connects (up to 500 ms), writes (up to 500 ms) and waits for the
// reply in a nested event loop (up to 1000 ms), so it never blocks for more
// than two seconds. Failures only reach the debug log: whatever happens, the
// caller goes on, either as the instance or by ending.

#include <QByteArray>
#include <QString>

#include <optional>

namespace kelvra::communication {

// Sends `request` to this user's running instance and returns what it
// answered, as far as it had arrived; nothing when no instance listens, the
// request could not be written or no reply came in time.
std::optional<QByteArray> client_exchange(QByteArray const& request);

// The running instance's answer to is_running; nothing when there was no
// valid reply or the reply was the failure form (its entries are logged).
std::optional<bool> query_is_running();

// True only when an instance answered that it runs.
bool probe_is_running();

// Asks the running instance to show its window, or to open the session
// named `connection_name` (an empty name is sent as it is). True when the
// instance acknowledged the request.
bool send_open_application();
bool send_open_connection(QString const& connection_name);

namespace detail {

std::optional<QByteArray> client_exchange(QString const& socket_path, QByteArray const& request);
std::optional<bool> query_is_running(QString const& socket_path);
bool send_open_application(QString const& socket_path);
bool send_open_connection(QString const& socket_path, QString const& connection_name);

} // namespace detail

} // namespace kelvra::communication
