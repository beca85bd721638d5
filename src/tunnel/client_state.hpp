#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>

class QTimer;

namespace kelvra::tunnel {

// What the server keeps for one accepted socket: the part of the message
// being read and the replies waiting to be written.
struct client_state {
    // 0 while reading the 4-byte size field, 1 while reading the body.
    std::int32_t phase = 0;
    // Bytes of the current part received so far. It only ever holds bytes
    // that arrived, never room for what the size field announced.
    QByteArray buffer;
    // Length the current part must reach.
    std::int64_t expected = 4;
    // Framed replies not yet completely written, oldest first.
    std::deque<QByteArray> write_queue;
    // Bytes of the first queued reply reported as written.
    std::int64_t written = 0;
    // Set once an error reply has been queued: the connection ends after it
    // and everything the peer sends from then on is discarded.
    bool close_after_write = false;
    // The first queued reply has been handed to the socket and is not
    // completely written yet.
    bool writing = false;
    // Total size of the replies in write_queue.
    std::int64_t queued_bytes = 0;
    // Reading stopped because the peer does not take its replies; it goes on
    // once they are written.
    bool paused = false;
    // Runs while a message is incomplete; a peer that stops sending in the
    // middle of one is disconnected when it fires. Owned by the socket.
    QTimer* stall_timer = nullptr;
};

} // namespace kelvra::tunnel
