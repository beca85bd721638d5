// Small requests: "PrinterListRequest" for a session with 3 printers, sent
// to the tunnel server and, as the floor, to a minimal epoll echo server
// that answers each frame with itself. Both run in a thread of this process
// while this thread is the client.
//
// Prints `name value unit` lines and the ratios to the baseline.

#include "bench_client.hpp"
#include "epoll_echo_server.hpp"

#include "connections/manager.hpp"
#include "tunnel/tcp_server.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

using namespace kelvra::bench;

namespace {

QByteArray frame_of(QByteArray const& json) {
    QByteArray out(4, '\0');
    qToBigEndian(static_cast<quint32>(json.size()), out.data());
    return out + json;
}

void print(char const* name, double value, char const* unit) {
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

struct figures {
    double one_connection = 0;
    double many_connections = 0;
    double p50 = 0;
    double p99 = 0;
};

figures measure(std::uint16_t port, QByteArray const& request, int scale) {
    figures f;
    pipelined_rate(port, request, 1, 2000, 64); // warm-up
    f.one_connection = pipelined_rate(port, request, 1, 100000 * scale, 128);
    f.many_connections = pipelined_rate(port, request, 32, 4000 * scale, 16);
    std::vector<double> const times = round_trips(port, request, 20000 * scale);
    f.p50 = percentile(times, 50);
    f.p99 = percentile(times, 99);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int const scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    kelvra::connection c;
    c.name = QStringLiteral("Vendas");
    c.printers = {{QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
                  {QStringLiteral("ZB-02"), QStringLiteral("Etiquetas"), 3},
                  {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0}};
    QString const id = kelvra::manager::instance().register_connection(c);
    QByteArray const request = frame_of("{\"connection_id\":\"" + id.toLatin1() +
                                        "\",\"kind\":\"PrinterListRequest\",\"version\":1}");

    kelvra::tunnel::tunnel_thread tunnel(0);
    quint16 tunnel_port = 0;
    QMetaObject::invokeMethod(
        tunnel.server(), [&] { tunnel_port = tunnel.server()->listening_port(); },
        Qt::BlockingQueuedConnection);
    epoll_echo_server echo;
    if (tunnel_port == 0 || echo.port() == 0) {
        std::fprintf(stderr, "could not start the servers\n");
        return 1;
    }
    // A sanity check that the tunnel answers what it should.
    int const fd = connect_loopback(tunnel_port);
    bool const sound = fd >= 0 && send_all(fd, request.constData(), std::size_t(request.size())) &&
                       read_frame(fd).contains("\"PrinterListResponse\"");
    if (fd >= 0) {
        ::close(fd);
    }
    if (!sound) {
        std::fprintf(stderr, "the tunnel did not answer the request\n");
        return 1;
    }

    std::printf("request_size %d bytes\n", request.size());
    figures const base = measure(echo.port(), request, scale);
    figures const ours = measure(tunnel_port, request, scale);

    print("echo_pipelined_1_connection", base.one_connection, "requests/s");
    print("tunnel_pipelined_1_connection", ours.one_connection, "requests/s");
    print("ratio_pipelined_1_connection", ours.one_connection / base.one_connection, "x");
    print("echo_pipelined_32_connections", base.many_connections, "requests/s");
    print("tunnel_pipelined_32_connections", ours.many_connections, "requests/s");
    print("ratio_pipelined_32_connections", ours.many_connections / base.many_connections, "x");
    print("echo_round_trip_p50", base.p50, "us");
    print("tunnel_round_trip_p50", ours.p50, "us");
    print("ratio_round_trip_p50", ours.p50 / base.p50, "x");
    print("echo_round_trip_p99", base.p99, "us");
    print("tunnel_round_trip_p99", ours.p99, "us");
    print("ratio_round_trip_p99", ours.p99 / base.p99, "x");
    return 0;
}
