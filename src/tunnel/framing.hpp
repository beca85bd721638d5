#pragma once

// The tunnel's wire format: every message, in both directions, is a 4-byte
// big-endian length followed by that many bytes of JSON. The reader here
// frames every reply, the handlers' answers and the error replies alike;
// message processing (message.hpp) only gives the JSON text or the failure.

#include "tunnel/client_state.hpp"

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kelvra::tunnel {

inline constexpr std::int64_t size_field_length = 4;
// The largest body a peer may send (100 MiB); exactly this much is accepted.
inline constexpr std::int64_t max_message_size = 104857600;
// No single read takes more than this from the socket.
inline constexpr std::int64_t max_read_size = 1048576;

// `json` behind its 4-byte big-endian length.
QByteArray frame(QByteArray const& json);

// The framed error reply: {"code", "connection_id", "kind": "Error",
// "message", "version": 1} in compact JSON.
QByteArray error_frame(QString const& connection_id, int code, QString const& message);

// Where the reader takes its bytes from: a socket in the server, a buffer
// in tests and in the fuzzer.
class byte_source {
public:
    virtual ~byte_source() = default;
    // Bytes that can be read now without waiting.
    virtual std::int64_t available() const = 0;
    // Reads at most `max` bytes into `into`: the count read, 0 when nothing
    // is there, negative on a read error.
    virtual std::int64_t read(char* into, std::int64_t max) = 0;
};

// Receives the reply frames, one per request, in request order.
class reply_sink {
public:
    virtual ~reply_sink() = default;
    virtual void reply(QByteArray frame) = 0;
};

// Ends a conversation with an error reply: hands the framed error reply for
// `connection_id`, `code` and `message` to `sink` and sets
// `close_after_write`, so that the rest of the input is discarded. Every
// error reply the server sends goes this way.
void send_error(client_state& state, reply_sink& sink, QString const& connection_id, int code,
                QString const& message);
// The same with a failed result stack's own code and message.
void send_error(client_state& state, reply_sink& sink, QString const& connection_id,
                brano::core::v6::result::stack const& failure);

// The memory that message bodies may take, shared by the clients of one
// server. A body's share is taken once its size field has been read, before
// any byte of it, and given back once it has been processed.
class body_budget {
public:
    virtual ~body_budget() = default;
    // Takes `bytes`; false when they are not to be had now (the body is
    // then read later).
    virtual bool take(std::int64_t bytes) = 0;
    virtual void give(std::int64_t bytes) = 0;
};

// What a body of `length` bytes costs the budget: the body itself and the
// parsed document made from it, which is about as large.
inline constexpr std::int64_t body_cost(std::int64_t length) {
    return 2 * length;
}

enum class read_outcome {
    waiting,     // everything available was consumed; more bytes are needed
    closing,     // an error reply was queued; the rest of the input is discarded
    read_failed, // the source reported an error; nothing was queued for it
    over_budget, // the next body does not fit in the budget now; it is read later
};

// Consumes what `source` has now: completes the size field and body of each
// message in turn, processes every complete body and hands its reply to
// `sink`. A failure is answered with send_error; from then on the input is
// read and discarded. Each read asks only for what the current part still
// lacks, at most `max_read_size` and at most what is available, so the
// buffer grows with the bytes that arrived. Without a budget, bodies take
// what they need.
read_outcome read_requests(client_state& state, byte_source& source, reply_sink& sink,
                           body_budget* budget = nullptr);

} // namespace kelvra::tunnel
