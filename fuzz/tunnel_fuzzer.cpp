// Feeds arbitrary byte streams, cut into arbitrary pieces, through the
// tunnel's framing and message processing, and checks what comes out.
//
// Input: the first byte chooses how the rest is cut; the rest is the stream
// a peer sends. Every occurrence of `id_placeholder` in the stream becomes
// the id of a registered connection (same length), so that inputs can reach
// the printer list as well as the failures.

#include "connections/manager.hpp"
#include "tunnel/client_state.hpp"
#include "tunnel/framing.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace kelvra::tunnel;

constexpr char id_placeholder[] =
    "IDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDIDID";
static_assert(sizeof id_placeholder - 1 == 76, "a connection id has 76 characters");

QByteArray registered_id;

[[noreturn]] void fail(char const* what) {
    std::fprintf(stderr, "tunnel fuzzer: %s\n", what);
    std::abort();
}

class chunk_source final : public byte_source {
public:
    void set(char const* data, std::int64_t size) {
        data_ = data;
        size_ = size;
    }
    std::int64_t available() const override { return size_; }
    std::int64_t read(char* into, std::int64_t max) override {
        if (max <= 0) {
            fail("read of nothing");
        }
        std::int64_t const n = std::min(max, size_);
        std::memcpy(into, data_, static_cast<std::size_t>(n));
        data_ += n;
        size_ -= n;
        return n;
    }

private:
    char const* data_ = nullptr;
    std::int64_t size_ = 0;
};

// Checks every reply as it is queued: a sound frame of a JSON object, and
// nothing after an error reply.
class checking_sink final : public reply_sink {
public:
    void reply(QByteArray frame) override {
        if (closed_) {
            fail("reply after an error reply");
        }
        if (frame.size() < 4 ||
            qFromBigEndian<quint32>(frame.constData()) != static_cast<quint32>(frame.size() - 4)) {
            fail("reply frame length does not match its body");
        }
        QJsonParseError error{};
        QJsonDocument const document = QJsonDocument::fromJson(frame.mid(4), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            fail("reply is not a JSON object");
        }
        QJsonObject const object = document.object();
        if (object.value(QLatin1String("version")).toInt() != 1) {
            fail("reply without version 1");
        }
        QString const kind = object.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("Error")) {
            closed_ = true;
        } else if (kind != QLatin1String("PrinterListResponse")) {
            fail("reply of an unexpected kind");
        }
        // Compact, keys in order, escapes as Qt writes them.
        if (frame.mid(4) != document.toJson(QJsonDocument::Compact)) {
            fail("reply differs from its compact form");
        }
    }
    bool closed() const { return closed_; }

private:
    bool closed_ = false;
};

void check_state(client_state const& state) {
    if (state.phase != 0 && state.phase != 1) {
        fail("phase out of range");
    }
    if (state.phase == 0 && state.expected != size_field_length) {
        fail("size field of the wrong length");
    }
    if (state.expected > max_message_size || state.buffer.size() > state.expected) {
        fail("part longer than allowed");
    }
    // Memory follows the bytes that arrived, never the declared length.
    if (state.buffer.capacity() > 2 * state.buffer.size() + 64) {
        fail("buffer holds more room than the bytes that arrived");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kelvra::connection c;
    c.name = QStringLiteral("Fuzz");
    c.printers = {{QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
                  {QStringLiteral("\"\\"), QStringLiteral("Impressão"), 2},
                  {QString(), QString(), -1}};
    registered_id = kelvra::manager::instance().register_connection(c).toLatin1();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::uint32_t cut = data[0];
    QByteArray stream(reinterpret_cast<char const*>(data + 1), static_cast<int>(size - 1));
    stream.replace(QByteArray::fromRawData(id_placeholder, sizeof id_placeholder - 1),
                   registered_id);

    client_state state;
    chunk_source source;
    checking_sink sink;
    std::int64_t offset = 0;
    while (offset < stream.size()) {
        // 0 feeds the whole stream at once; otherwise pieces of 1 to 64
        // bytes in a sequence the first byte seeds.
        std::int64_t piece = stream.size() - offset;
        if (cut != 0) {
            cut ^= cut << 13;
            cut ^= cut >> 17;
            cut ^= cut << 5;
            piece = std::min<std::int64_t>(piece, 1 + cut % 64);
        }
        source.set(stream.constData() + offset, piece);
        offset += piece;
        read_outcome const outcome = read_requests(state, source, sink);
        if (source.available() != 0) {
            fail("bytes left unread");
        }
        if ((outcome == read_outcome::closing) != state.close_after_write ||
            outcome == read_outcome::read_failed) {
            fail("outcome does not match the state");
        }
        if (state.close_after_write != sink.closed()) {
            fail("error reply and closing disagree");
        }
        check_state(state);
    }
    return 0;
}
