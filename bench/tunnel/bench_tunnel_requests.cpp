// Small requests: "PrinterListRequest" for a session with 3 printers, sent
// to the tunnel server and to two floors, minimal servers on epoll without
// an event loop: one echoes each frame, the other does the tunnel's work per
// request (parses it with QJsonDocument, reads the same members and builds
// the same reply bytes). All run in a thread of this process while this
// thread is the client.
//
// Prints `name value unit` lines and the ratios to the baseline.

#include "bench_client.hpp"
#include "epoll_frame_server.hpp"

#include "connections/manager.hpp"
#include "tunnel/json_text.hpp"
#include "tunnel/tcp_server.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include "support/timing.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kelvra::bench;
using kelvra::bench::median;

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

// The tunnel's work for one request, without its event loop: the parse, the
// members it reads, and the reply it builds for the known connection.
epoll_frame_server::responder json_responder(kelvra::connection const& c, QString const& id) {
    return [c, id](char const* body, std::size_t size, std::vector<char>& out) {
        QJsonDocument const document =
            QJsonDocument::fromJson(QByteArray::fromRawData(body, static_cast<int>(size)));
        QJsonObject const request = document.object();
        QString const connection_id = request.value(QLatin1String("connection_id")).toString();
        bool const sound = request.value(QLatin1String("kind")).toString() ==
                               QLatin1String("PrinterListRequest") &&
                           request.value(QLatin1String("version")).toInt() == 1 &&
                           connection_id == id;
        QByteArray reply;
        reply.reserve(160 + 64 * c.printers.size());
        reply.append("{\"connection_id\":");
        kelvra::tunnel::json_text::append_string(reply, sound ? connection_id : QString());
        reply.append(",\"kind\":\"PrinterListResponse\",\"printers\":[");
        bool first = true;
        for (kelvra::printer const& p : c.printers) {
            reply.append(first ? "{\"identificador\":" : ",{\"identificador\":");
            first = false;
            kelvra::tunnel::json_text::append_string(reply, p.identificador);
            reply.append(",\"nome\":");
            kelvra::tunnel::json_text::append_string(reply, p.nome);
            reply.append(",\"tipo\":");
            kelvra::tunnel::json_text::append_number(reply, p.tipo);
            reply.append('}');
        }
        reply.append("],\"version\":1}");
        char header[4];
        qToBigEndian(static_cast<quint32>(reply.size()), header);
        out.insert(out.end(), header, header + 4);
        out.insert(out.end(), reply.constData(), reply.constData() + reply.size());
    };
}

struct figures {
    double one_connection = 0;
    double many_connections = 0;
    double p50 = 0;
    double p99 = 0;
};

QByteArray one_reply(std::uint16_t port, QByteArray const& request) {
    int const fd = connect_loopback(port);
    QByteArray reply;
    if (fd >= 0 && send_all(fd, request.constData(), std::size_t(request.size()))) {
        reply = read_frame(fd);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return reply;
}

// `settle` waits until the server has let go of the connections closed
// before, so that the 32 new ones are all served.
figures measure(
    std::uint16_t port, QByteArray const& request, int scale,
    std::function<void()> const& settle = [] {}) {
    figures f;
    pipelined_rate(port, request, 1, 2000, 64); // warm-up
    settle();
    f.one_connection = pipelined_rate(port, request, 1, 20000 * scale, 128);
    settle();
    f.many_connections = pipelined_rate(port, request, 32, 800 * scale, 16);
    settle();
    std::vector<double> const times = round_trips(port, request, 4000 * scale);
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
    epoll_frame_server echo;
    epoll_frame_server json(json_responder(c, id));
    if (tunnel_port == 0 || echo.port() == 0 || json.port() == 0) {
        std::fprintf(stderr, "could not start the servers\n");
        return 1;
    }
    // A sanity check that the tunnel answers what it should, and the JSON
    // floor the same bytes.
    QByteArray const tunnel_reply = one_reply(tunnel_port, request);
    if (!tunnel_reply.contains("\"PrinterListResponse\"") ||
        one_reply(json.port(), request) != tunnel_reply) {
        std::fprintf(stderr, "the servers did not answer the request as expected\n");
        return 1;
    }

    auto const settle = [&tunnel] {
        std::size_t clients = 1;
        for (int i = 0; i < 1000 && clients > 0; ++i) {
            QMetaObject::invokeMethod(
                tunnel.server(), [&] { clients = tunnel.server()->current_usage().clients; },
                Qt::BlockingQueuedConnection);
            if (clients > 0) {
                ::usleep(1000);
            }
        }
    };
    // Five rounds, each measuring the three servers one after the other, so
    // that a busy spell of the machine weighs on all of them alike; the
    // figures are the medians of the rounds (with the tunnel's spread, the
    // largest minus the smallest), each ratio the median of the rounds'.
    std::printf("request_size %d bytes\n", request.size());
    int const rounds = 5;
    std::vector<figures> base, floor, ours;
    for (int round = 0; round < rounds; ++round) {
        base.push_back(measure(echo.port(), request, scale));
        floor.push_back(measure(json.port(), request, scale));
        ours.push_back(measure(tunnel_port, request, scale, settle));
    }
    auto of = [](std::vector<figures> const& all, double figures::*field) {
        std::vector<double> values;
        for (figures const& f : all) {
            values.push_back(f.*field);
        }
        return median(values);
    };
    auto ratio = [&](std::vector<figures> const& to, double figures::*field) {
        std::vector<double> values;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            values.push_back(ours[i].*field / to[i].*field);
        }
        return median(values);
    };
    auto spread = [](std::vector<figures> const& all, double figures::*field) {
        double low = 1e300;
        double high = 0;
        for (figures const& f : all) {
            low = std::min(low, f.*field);
            high = std::max(high, f.*field);
        }
        return high - low;
    };
    struct row {
        char const* name;
        double figures::*field;
        char const* unit;
    };
    for (row const& r :
         {row{"pipelined_1_connection", &figures::one_connection, "requests/s"},
          row{"pipelined_32_connections", &figures::many_connections, "requests/s"},
          row{"round_trip_p50", &figures::p50, "us"}, row{"round_trip_p99", &figures::p99, "us"}}) {
        std::string const name = r.name;
        print(("echo_" + name).c_str(), of(base, r.field), r.unit);
        print(("json_" + name).c_str(), of(floor, r.field), r.unit);
        print(("tunnel_" + name).c_str(), of(ours, r.field), r.unit);
        print(("tunnel_" + name + "_spread").c_str(), spread(ours, r.field), r.unit);
        print(("ratio_" + name).c_str(), ratio(base, r.field), "x");
        print(("ratio_json_" + name).c_str(), ratio(floor, r.field), "x");
    }
    return 0;
}
