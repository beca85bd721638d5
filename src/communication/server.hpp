#pragma once

#include "communication/services.hpp"

#include "core/result_metatype.hpp"

#include <brano/core/v6/result.hpp>

#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

class QLocalServer;
class QLocalSocket;

namespace kelvra::communication {

// The running instance's side of the single-instance exchange: a local
// server that answers the three services, one request and one response per
// accepted connection. One object per process, created on first use; it
// listens only in the process that became the instance.
class server : public QObject {
    Q_OBJECT

public:
    static server& instance();
    ~server() override;

    // Listens on this user's socket (see socket_path()). Returns whether the
    // server listens; when it cannot, it writes "start listen error" to the
    // debug log and the program goes on without it.
    bool start_listening();
    // The same on `socket_path`. A socket left behind by an instance that
    // died (its connections are refused) is removed and the name taken
    // over; a socket where an instance still accepts connections, or a name
    // that is not this user's socket, is never touched.
    bool start_listening(QString const& socket_path);

    bool is_listening() const;
    // The path it listens on; empty when it does not listen.
    QString listening_path() const;
    // Stops listening and removes the socket; connections already accepted
    // are served to the end.
    void stop_listening();

signals:
    void open_application();
    void open_connection(QString connection_name);
    void upgrade_available();
    void server_error(brano::core::result::stack rs);

private:
    server();

    bool take_name(QString const& socket_path);
    void on_new_connection();
    void serve(QLocalSocket* socket);
    std::optional<QByteArray> answer(QByteArray const& request);

    protocol::services::is_running::response
    handle(protocol::services::is_running::request const& request,
           brano::core::v6::result::stack& status);
    protocol::services::open_application::response
    handle(protocol::services::open_application::request const& request,
           brano::core::v6::result::stack& status);
    protocol::services::open_connection::response
    handle(protocol::services::open_connection::request const& request,
           brano::core::v6::result::stack& status);

    QLocalServer* local_server_;
};

} // namespace kelvra::communication
