#include "tunnel/framing.hpp"

#include "tunnel/json_text.hpp"
#include "tunnel/message.hpp"
#include "tunnel/status.hpp"

#include <QtEndian>

#include <algorithm>
#include <utility>

namespace kelvra::tunnel {

namespace {

// Reads and drops everything the source holds.
void discard_available(byte_source& source) {
    char scratch[16384];
    for (;;) {
        std::int64_t const chunk =
            std::min<std::int64_t>(source.available(), static_cast<std::int64_t>(sizeof scratch));
        if (chunk <= 0 || source.read(scratch, chunk) <= 0) {
            return;
        }
    }
}

} // namespace

QByteArray frame(QByteArray const& json) {
    QByteArray out;
    out.reserve(static_cast<int>(size_field_length) + json.size());
    out.resize(static_cast<int>(size_field_length));
    qToBigEndian(static_cast<quint32>(json.size()), out.data());
    out.append(json);
    return out;
}

QByteArray error_frame(QString const& connection_id, int code, QString const& message) {
    // {"code","connection_id","kind":"Error","message","version":1}
    QByteArray json;
    json.reserve(96 + connection_id.size() + 2 * message.size());
    json.append("{\"code\":");
    json_text::append_number(json, code);
    json.append(",\"connection_id\":");
    json_text::append_string(json, connection_id);
    json.append(",\"kind\":\"Error\",\"message\":");
    json_text::append_string(json, message);
    json.append(",\"version\":1}");
    return frame(json);
}

void send_error(client_state& state, reply_sink& sink, QString const& connection_id, int code,
                QString const& message) {
    state.close_after_write = true;
    sink.reply(error_frame(connection_id, code, message));
}

void send_error(client_state& state, reply_sink& sink, QString const& connection_id,
                brano::core::v6::result::stack const& failure) {
    send_error(state, sink, connection_id, failure.get_value(),
               QString::fromStdString(failure.get_message()));
}

read_outcome read_requests(client_state& state, byte_source& source, reply_sink& sink,
                           body_budget* budget) {
    while (!state.close_after_write) {
        if (state.phase == 1 && state.reserved < 0) {
            std::int64_t const cost = body_cost(state.expected);
            if (budget != nullptr && !budget->take(cost)) {
                return read_outcome::over_budget;
            }
            state.reserved = budget != nullptr ? cost : 0;
        }
        std::int64_t const want = state.expected - state.buffer.size();
        if (want > 0) {
            std::int64_t const chunk = std::min({want, max_read_size, source.available()});
            if (chunk <= 0) {
                return read_outcome::waiting;
            }
            int const old_size = state.buffer.size();
            state.buffer.resize(old_size + static_cast<int>(chunk));
            std::int64_t const got = source.read(state.buffer.data() + old_size, chunk);
            state.buffer.resize(old_size + static_cast<int>(std::max<std::int64_t>(got, 0)));
            if (got < 0) {
                return read_outcome::read_failed;
            }
            if (got == 0) {
                return read_outcome::waiting;
            }
            if (state.buffer.size() < state.expected) {
                continue;
            }
        }

        if (state.phase == 0) {
            // The size field is complete. A length of 0 is a legal frame
            // whose empty body then fails to parse.
            auto const length =
                static_cast<std::int64_t>(qFromBigEndian<quint32>(state.buffer.constData()));
            state.buffer.clear();
            if (length > max_message_size) {
                brano::core::v6::result::stack failure;
                failure.push_item(status::geral_category::instance(),
                                  status::geral_category::invalid_message_size);
                send_error(state, sink, QString(), failure);
                break;
            }
            state.expected = length;
            state.phase = 1;
            state.reserved = -1;
            continue;
        }

        // The body is complete. The processing takes the buffer over, so its
        // memory goes as soon as the body has been parsed.
        QString connection_id;
        brano::core::v6::result::stack failure;
        QByteArray const json =
            process_message(std::exchange(state.buffer, QByteArray()), connection_id, failure);
        state.phase = 0;
        state.expected = size_field_length;
        if (budget != nullptr) {
            budget->give(state.reserved);
        }
        state.reserved = 0;
        if (failure.has_failed()) {
            send_error(state, sink, connection_id, failure);
        } else {
            sink.reply(frame(json));
        }
    }
    discard_available(source);
    return read_outcome::closing;
}

} // namespace kelvra::tunnel
