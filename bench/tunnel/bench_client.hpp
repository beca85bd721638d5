#pragma once

// Blocking and pipelining loopback clients for the tunnel benchmarks.

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <vector>

namespace kelvra::bench {

// A connected TCP socket to 127.0.0.1:port with TCP_NODELAY; -1 on failure.
int connect_loopback(std::uint16_t port);

// Sends every byte; false on error.
bool send_all(int fd, char const* data, std::size_t size);

// Reads exactly `size` bytes; false on error or close.
bool recv_exact(int fd, char* into, std::size_t size);

// Reads one whole frame (length and body); empty on error or close.
QByteArray read_frame(int fd);

// Sends `per_connection` copies of `request` on each of `connections`
// sockets, keeping at most `window` unanswered per socket, and counts the
// reply frames. Returns the requests answered per second, or 0 on failure.
double pipelined_rate(std::uint16_t port, QByteArray const& request, int connections,
                      int per_connection, int window);

// Round-trip times of `count` requests sent one at a time, in microseconds,
// sorted.
std::vector<double> round_trips(std::uint16_t port, QByteArray const& request, int count);

double percentile(std::vector<double> const& sorted, double p);

} // namespace kelvra::bench
