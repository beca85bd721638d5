#pragma once

#include <QByteArray>

#include <cstdint>

class QTimer;

namespace kelvra::tunnel {

// What the server keeps for one accepted socket: the part of the message
// being read. Its replies wait in the socket's own write buffer.
struct client_state {
    // 0 while reading the 4-byte size field, 1 while reading the body.
    std::int32_t phase = 0;
    // Bytes of the current part received so far. It only ever holds bytes
    // that arrived, never room for what the size field announced.
    QByteArray buffer;
    // Length the current part must reach.
    std::int64_t expected = 4;
    // What the body being read holds of the server's body budget; -1 while
    // the body waits for its share, before any byte of it is read.
    std::int64_t reserved = 0;
    // Set once an error reply has been queued: the connection ends after it
    // and everything the peer sends from then on is discarded.
    bool close_after_write = false;
    // Reading stopped because the peer does not take its replies; it goes on
    // once they are written.
    bool paused = false;
    // The next body waits for its share of the body budget.
    bool over_budget = false;
    // Runs while a message is incomplete; a peer that stops sending in the
    // middle of one is disconnected when it fires. Owned by the socket.
    QTimer* stall_timer = nullptr;
};

} // namespace kelvra::tunnel
