#pragma once

// The messages that a second start exchanges with the running instance over
// the local socket. Every message is one QDataStream (default version,
// big-endian) written into a byte array: a qint32 tag first, then the fields
// of the message. A response is either the service's success form (its own
// tag) or the failure form (tag 1 and the failed result stack as entries).

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <variant>
#include <vector>

namespace kelvra::protocol::services {

enum class message_tag : qint32 {
    failure = 1,
    is_running = 2,
    open_application = 3,
    open_connection = 4,
};

// One item of a failed result stack as it travels: the category's name, the
// item's message and its arguments, ordered by name.
struct error_entry {
    QString category_name;
    QString message;
    QMap<QString, QString> arguments;

    friend bool operator==(error_entry const& a, error_entry const& b) {
        return a.category_name == b.category_name && a.message == b.message &&
               a.arguments == b.arguments;
    }
    friend bool operator!=(error_entry const& a, error_entry const& b) { return !(a == b); }
};

// The failure form of any response.
struct failure {
    std::vector<error_entry> entries;
};

// One entry per item of `status`, in stack order.
std::vector<error_entry> error_entries(brano::core::v6::result::stack const& status);

// Asks whether an instance runs; it answers true.
struct is_running {
    static constexpr message_tag tag = message_tag::is_running;
    struct request {};
    struct response {
        bool running = false;
    };
};

// Asks the running instance to show its window.
struct open_application {
    static constexpr message_tag tag = message_tag::open_application;
    struct request {};
    struct response {};
};

// Asks the running instance to open the session of that name.
struct open_connection {
    static constexpr message_tag tag = message_tag::open_connection;
    struct request {
        QString connection_name;
    };
    struct response {};
};

using any_request =
    std::variant<is_running::request, open_application::request, open_connection::request>;

// What the client reads back: the success form or the failure form.
template <class Response> using reply = std::variant<Response, failure>;

QByteArray encode(is_running::request const& request);
QByteArray encode(open_application::request const& request);
QByteArray encode(open_connection::request const& request);
QByteArray encode(is_running::response const& response);
QByteArray encode(open_application::response const& response);
QByteArray encode(open_connection::response const& response);
QByteArray encode(failure const& response);

// The request held by `bytes`, or nothing for an unknown tag or a message
// cut short. Bytes after the request are ignored.
std::optional<any_request> decode_request(QByteArray const& bytes);

// The reply held by `bytes`, or nothing when it is cut short or malformed.
// Tag 1 is the failure form; any other tag counts as success, and for
// is_running only tag 2 carries the answer (any other tag means false).
std::optional<reply<is_running::response>> decode_is_running_reply(QByteArray const& bytes);
std::optional<reply<open_application::response>>
decode_open_application_reply(QByteArray const& bytes);
std::optional<reply<open_connection::response>>
decode_open_connection_reply(QByteArray const& bytes);

} // namespace kelvra::protocol::services
