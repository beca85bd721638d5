#include "communication/services.hpp"

#include <QDataStream>

namespace kelvra::protocol::services {

namespace result = brano::core::v6::result;

namespace {

// Empty and null texts both travel as an empty string (byte count 0), so the
// bytes on the wire never depend on how a text happened to be built.
void write_text(QDataStream& out, QString const& text) {
    if (text.isEmpty()) {
        out << quint32{0};
    } else {
        out << text;
    }
}

QByteArray tag_only(message_tag tag) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint32>(tag);
    return bytes;
}

bool read_ok(QDataStream const& in) {
    return in.status() == QDataStream::Ok;
}

std::optional<qint32> read_tag(QDataStream& in) {
    qint32 tag = 0;
    in >> tag;
    if (!read_ok(in)) {
        return std::nullopt;
    }
    return tag;
}

// Counts come from the peer: never trusted for an allocation, only as a
// bound for a loop that stops at the first short read.
std::optional<failure> read_failure(QDataStream& in) {
    qint32 entry_count = 0;
    in >> entry_count;
    if (!read_ok(in) || entry_count < 0) {
        return std::nullopt;
    }
    failure decoded;
    for (qint32 i = 0; i < entry_count; ++i) {
        error_entry entry;
        qint32 argument_count = 0;
        in >> entry.category_name >> entry.message >> argument_count;
        if (!read_ok(in) || argument_count < 0) {
            return std::nullopt;
        }
        for (qint32 j = 0; j < argument_count; ++j) {
            QString name;
            QString value;
            in >> name >> value;
            if (!read_ok(in)) {
                return std::nullopt;
            }
            entry.arguments.insert(name, value);
        }
        decoded.entries.push_back(std::move(entry));
    }
    return decoded;
}

// A reply: the failure form, or the success form that `read_success` reads
// from the stream after its tag (nothing when it is malformed).
template <class Response, class ReadSuccess>
std::optional<reply<Response>> decode_reply(QByteArray const& bytes, ReadSuccess read_success) {
    QDataStream in(bytes);
    auto const tag = read_tag(in);
    if (!tag) {
        return std::nullopt;
    }
    if (*tag == static_cast<qint32>(message_tag::failure)) {
        auto decoded = read_failure(in);
        if (!decoded) {
            return std::nullopt;
        }
        return reply<Response>{std::move(*decoded)};
    }
    std::optional<Response> response = read_success(in, *tag);
    if (!response) {
        return std::nullopt;
    }
    return reply<Response>{std::move(*response)};
}

// A reply whose success form carries nothing after the tag.
template <class Response>
std::optional<reply<Response>> decode_bare_reply(QByteArray const& bytes) {
    return decode_reply<Response>(
        bytes, [](QDataStream&, qint32) { return std::optional<Response>(Response{}); });
}

} // namespace

std::vector<error_entry> error_entries(result::stack const& status) {
    std::vector<error_entry> entries;
    entries.reserve(status.size());
    for (auto const& item : status) {
        error_entry entry;
        entry.category_name = QString::fromUtf8(item.get_category().name());
        entry.message = QString::fromStdString(item.get_message());
        for (auto const& argument : item.get_argument_range()) {
            entry.arguments.insert(QString::fromStdString(argument.get_name()),
                                   QString::fromStdString(argument.get_value()));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

QByteArray encode(is_running::request const&) {
    return tag_only(is_running::tag);
}

QByteArray encode(open_application::request const&) {
    return tag_only(open_application::tag);
}

QByteArray encode(open_connection::request const& request) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint32>(open_connection::tag);
    write_text(out, request.connection_name);
    return bytes;
}

QByteArray encode(is_running::response const& response) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint32>(is_running::tag) << response.running;
    return bytes;
}

QByteArray encode(open_application::response const&) {
    return tag_only(open_application::tag);
}

QByteArray encode(open_connection::response const&) {
    return tag_only(open_connection::tag);
}

QByteArray encode(failure const& response) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint32>(message_tag::failure)
        << static_cast<qint32>(response.entries.size());
    for (auto const& entry : response.entries) {
        write_text(out, entry.category_name);
        write_text(out, entry.message);
        out << static_cast<qint32>(entry.arguments.size());
        // QMap iterates in key order: the arguments go out ordered by name.
        for (auto it = entry.arguments.cbegin(); it != entry.arguments.cend(); ++it) {
            write_text(out, it.key());
            write_text(out, it.value());
        }
    }
    return bytes;
}

std::optional<any_request> decode_request(QByteArray const& bytes) {
    QDataStream in(bytes);
    auto const tag = read_tag(in);
    if (!tag) {
        return std::nullopt;
    }
    switch (static_cast<message_tag>(*tag)) {
    case message_tag::is_running:
        return any_request{is_running::request{}};
    case message_tag::open_application:
        return any_request{open_application::request{}};
    case message_tag::open_connection: {
        open_connection::request request;
        in >> request.connection_name;
        if (!read_ok(in)) {
            return std::nullopt;
        }
        return any_request{std::move(request)};
    }
    case message_tag::failure:
        break;
    }
    return std::nullopt;
}

std::optional<reply<is_running::response>> decode_is_running_reply(QByteArray const& bytes) {
    // Another tag counts as success with "not running".
    return decode_reply<is_running::response>(
        bytes, [](QDataStream& in, qint32 tag) -> std::optional<is_running::response> {
            is_running::response response;
            if (tag == static_cast<qint32>(is_running::tag)) {
                in >> response.running;
                if (!read_ok(in)) {
                    return std::nullopt;
                }
            }
            return response;
        });
}

std::optional<reply<open_application::response>>
decode_open_application_reply(QByteArray const& bytes) {
    return decode_bare_reply<open_application::response>(bytes);
}

std::optional<reply<open_connection::response>>
decode_open_connection_reply(QByteArray const& bytes) {
    return decode_bare_reply<open_connection::response>(bytes);
}

} // namespace kelvra::protocol::services
