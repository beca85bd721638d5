// One request of 100 MiB ("PrinterListRequest" padded with a long string):
// the time from its first byte sent to its reply received, and the peak
// memory of the server. The floor is the same bytes sent over loopback to a
// bare receiver that reads them into one buffer of the exact size and runs
// QJsonDocument::fromJson on them.
//
// Each server runs in a child process of its own (this program started
// again with "serve-tunnel" or "serve-baseline"), so that its peak resident
// memory (VmHWM in /proc/<pid>/status) counts the server alone and not the
// client's copy of the request. The figure reported is that peak minus the
// peak the idle server had reached before the request.
//
// Then 32 slow clients at once, each sending such a request in pieces of
// 1 MiB every 10 ms: the server's peak resident memory against the budget
// that all bodies share (tcp_server::default_body_budget) plus 64 MiB.
//
// Prints `name value unit` lines and the ratios to the baseline.

#include "bench_client.hpp"
#include "support/timing.hpp"

#include "connections/manager.hpp"
#include "tunnel/tcp_server.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QtEndian>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace kelvra::bench;

namespace {

constexpr int body_size = 104857600;

void wait_for_end_of_input() {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
}

int serve_tunnel(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kelvra::connection c;
    c.name = QStringLiteral("Vendas");
    c.printers = {{QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
                  {QStringLiteral("ZB-02"), QStringLiteral("Etiquetas"), 3},
                  {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0}};
    QString const id = kelvra::manager::instance().register_connection(c);
    kelvra::tunnel::tunnel_thread tunnel(0);
    quint16 port = 0;
    QMetaObject::invokeMethod(
        tunnel.server(), [&] { port = tunnel.server()->listening_port(); },
        Qt::BlockingQueuedConnection);
    std::printf("%u %s\n", unsigned(port), id.toLatin1().constData());
    std::fflush(stdout);
    wait_for_end_of_input();
    return 0;
}

int serve_baseline() {
    int const listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 1;
    }
    std::printf("%u -\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);
    int const fd = ::accept(listener, nullptr, nullptr);
    // The body goes into one buffer of exactly its size: no growth, no copy.
    unsigned char header[4] = {};
    if (!recv_exact(fd, reinterpret_cast<char*>(header), 4)) {
        return 1;
    }
    QByteArray body(static_cast<int>(qFromBigEndian<quint32>(header)), Qt::Uninitialized);
    if (!recv_exact(fd, body.data(), std::size_t(body.size()))) {
        return 1;
    }
    QJsonDocument const document = QJsonDocument::fromJson(body);
    char const reply[] = {
        0, 0, 0, 2, document.isObject() ? '{' : '[', document.isObject() ? '}' : ']'};
    send_all(fd, reply, sizeof reply);
    wait_for_end_of_input();
    ::close(fd);
    ::close(listener);
    return 0;
}

long peak_kib(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (QByteArray const& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

struct child {
    pid_t pid = -1;
    int in = -1; // its standard input: closing it ends the child
    std::uint16_t port = 0;
    QByteArray id;
};

child spawn(char const* self, char const* mode) {
    int to_child[2];
    int from_child[2];
    child c;
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) {
        return c;
    }
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        ::close(to_child[1]);
        ::close(from_child[0]);
        ::execl(self, self, mode, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    c.in = to_child[1];
    std::string line;
    char ch = 0;
    while (::read(from_child[0], &ch, 1) == 1 && ch != '\n') {
        line += ch;
    }
    ::close(from_child[0]);
    QList<QByteArray> const parts = QByteArray::fromStdString(line).split(' ');
    if (parts.size() == 2) {
        c.port = static_cast<std::uint16_t>(parts[0].toUInt());
        c.id = parts[1];
    }
    return c;
}

void finish(child& c) {
    ::close(c.in);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
}

struct run_result {
    double ms = 0;
    double peak_mib = 0;       // peak during the request minus the idle peak
    double total_peak_mib = 0; // the process's whole peak
    bool sound = false;
};

run_result run(char const* self, char const* mode, QByteArray& frame, int id_offset) {
    run_result r;
    child c = spawn(self, mode);
    if (c.port == 0) {
        return r;
    }
    if (c.id.size() == 76) {
        std::memcpy(frame.data() + id_offset, c.id.constData(), 76);
    }
    long const idle = peak_kib(c.pid);
    int const fd = connect_loopback(c.port);
    auto const start = std::chrono::steady_clock::now();
    bool const sent = send_all(fd, frame.constData(), std::size_t(frame.size()));
    QByteArray const reply = sent ? read_frame(fd) : QByteArray();
    std::chrono::duration<double, std::milli> const elapsed =
        std::chrono::steady_clock::now() - start;
    long const peak = peak_kib(c.pid);
    ::close(fd);
    finish(c);
    r.ms = elapsed.count();
    r.peak_mib = double(peak - idle) / 1024.0;
    r.total_peak_mib = double(peak) / 1024.0;
    r.sound = reply.contains("PrinterListResponse") || reply == QByteArray("\0\0\0\2{}", 6);
    return r;
}

struct slow_result {
    double seconds = 0;
    double total_peak_mib = 0;
    int answered = 0;
};

slow_result slow_clients(char const* self, QByteArray& frame, int id_offset, int count) {
    slow_result r;
    child c = spawn(self, "serve-tunnel");
    if (c.port == 0 || c.id.size() != 76) {
        return r;
    }
    std::memcpy(frame.data() + id_offset, c.id.constData(), 76);
    struct peer {
        int fd = -1;
        qint64 sent = 0;
        QByteArray reply;
        bool done = false;
    };
    std::vector<peer> peers(static_cast<std::size_t>(count));
    for (auto& p : peers) {
        p.fd = connect_loopback(c.port);
        if (p.fd < 0) {
            finish(c);
            return r;
        }
        ::fcntl(p.fd, F_SETFL, ::fcntl(p.fd, F_GETFL) | O_NONBLOCK);
    }
    constexpr qint64 piece = 1024 * 1024;
    auto const start = std::chrono::steady_clock::now();
    auto const give_up = start + std::chrono::minutes(5);
    std::vector<char> chunk(65536);
    while (r.answered < count && std::chrono::steady_clock::now() < give_up) {
        for (auto& p : peers) {
            if (p.sent < frame.size()) {
                ssize_t const n = ::send(
                    p.fd, frame.constData() + p.sent,
                    std::size_t(std::min<qint64>(piece, frame.size() - p.sent)), MSG_NOSIGNAL);
                if (n > 0) {
                    p.sent += n;
                }
            }
            ssize_t n = 0;
            while (!p.done && (n = ::recv(p.fd, chunk.data(), chunk.size(), 0)) > 0) {
                p.reply.append(chunk.data(), int(n));
            }
            if (!p.done && p.reply.size() >= 4 &&
                p.reply.size() >= 4 + qint64(qFromBigEndian<quint32>(p.reply.constData()))) {
                p.done = true;
                ++r.answered;
                if (!p.reply.contains("PrinterListResponse")) {
                    r.answered = -count; // a wrong reply: never sound
                }
            }
            if (!p.done && n == 0) {
                r.answered = -count; // closed without a reply
            }
        }
        ::usleep(10000);
    }
    std::chrono::duration<double> const elapsed = std::chrono::steady_clock::now() - start;
    r.seconds = elapsed.count();
    r.total_peak_mib = double(peak_kib(c.pid)) / 1024.0;
    for (auto& p : peers) {
        ::close(p.fd);
    }
    finish(c);
    return r;
}

using kelvra::bench::median;

void print(char const* name, double value, char const* unit) {
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "serve-tunnel") == 0) {
        return serve_tunnel(argc, argv);
    }
    if (argc > 1 && std::strcmp(argv[1], "serve-baseline") == 0) {
        return serve_baseline();
    }
    int const rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    // The request, exactly 100 MiB of body; the id is filled in per server.
    QByteArray const head = "{\"connection_id\":\"" + QByteArray(76, '0') +
                            "\",\"kind\":\"PrinterListRequest\",\"version\":1,\"padding\":\"";
    QByteArray frame(4 + body_size, 'x');
    qToBigEndian(static_cast<quint32>(body_size), frame.data());
    std::memcpy(frame.data() + 4, head.constData(), std::size_t(head.size()));
    std::memcpy(frame.data() + frame.size() - 2, "\"}", 2);
    int const id_offset = 4 + static_cast<int>(std::strlen("{\"connection_id\":\""));

    std::vector<double> base_ms, base_mib, ours_ms, ours_mib, ours_total;
    for (int i = 0; i < rounds; ++i) {
        run_result const b = run(argv[0], "serve-baseline", frame, id_offset);
        run_result const o = run(argv[0], "serve-tunnel", frame, id_offset);
        if (!b.sound || !o.sound) {
            std::fprintf(stderr, "a server did not answer the request\n");
            return 1;
        }
        base_ms.push_back(b.ms);
        base_mib.push_back(b.peak_mib);
        ours_ms.push_back(o.ms);
        ours_mib.push_back(o.peak_mib);
        ours_total.push_back(o.total_peak_mib);
    }
    double const frame_mib = double(frame.size()) / 1048576.0;
    print("frame_size", frame_mib, "MiB");
    print("baseline_transfer_and_parse", median(base_ms), "ms");
    print("tunnel_request", median(ours_ms), "ms");
    print("ratio_time", median(ours_ms) / median(base_ms), "x");
    print("baseline_peak_memory", median(base_mib), "MiB");
    print("tunnel_peak_memory", median(ours_mib), "MiB");
    print("ratio_peak_memory", median(ours_mib) / median(base_mib), "x");
    print("tunnel_peak_memory_per_frame", median(ours_mib) / frame_mib, "x");
    print("tunnel_process_peak", median(ours_total), "MiB");
    print("tunnel_process_peak_per_frame", median(ours_total) / frame_mib, "x");

    int const slow = 32;
    slow_result const s = slow_clients(argv[0], frame, id_offset, slow);
    double const limit = double(kelvra::tunnel::tcp_server::default_body_budget) / 1048576.0 + 64.0;
    print("slow_clients", slow, "clients");
    print("slow_clients_answered", s.answered, "clients");
    print("slow_clients_time", s.seconds, "s");
    print("slow_clients_process_peak", s.total_peak_mib, "MiB");
    print("slow_clients_peak_limit", limit, "MiB");
    print("ratio_slow_clients_peak_to_limit", s.total_peak_mib / limit, "x");
    return s.answered == slow && s.total_peak_mib < limit ? 0 : 1;
}
