// The tunnel server over real loopback sockets, running in its own thread.

#include "tunnel/tunnel_fixtures.hpp"

#include "tunnel/tcp_server.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

using namespace kelvra::testing::tunnel;
using kelvra::tunnel::tcp_server;
using kelvra::tunnel::tunnel_thread;
using frame = std::optional<QByteArray>;

namespace {

// Asks the server in its own thread.
template <class F> auto ask(tunnel_thread& t, F f) {
    decltype(f(*t.server())) out{};
    QMetaObject::invokeMethod(
        t.server(), [&] { out = f(*t.server()); }, Qt::BlockingQueuedConnection);
    return out;
}
tcp_server::usage usage_of(tunnel_thread& t) {
    return ask(t, [](tcp_server& s) { return s.current_usage(); });
}
quint16 port_of(tunnel_thread& t) {
    return ask(t, [](tcp_server& s) { return s.listening_port(); });
}

} // namespace

class tst_tunnel_server : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        id_ = registered(three_printer_connection());
        tunnel_ = std::make_unique<tunnel_thread>(0);
        port_ = port_of(*tunnel_);
        QVERIFY(port_ != 0);
    }

    void cleanupTestCase() { tunnel_.reset(); }

    // Every test leaves no connection behind, also those whose peer left mid-message.
    void cleanup() { QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0)); }

    // Each faulty request is answered with an error reply and the connection
    // closed; the valid request sent in the same write gets nothing.
    void error_replies_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QByteArray const id = id_.toLatin1();
        QByteArray const unknown = "7b" + QByteArray(72, '0') + "7d";
        auto row = [](char const* name, QByteArray const& request, QByteArray const& reply) {
            QTest::newRow(name) << request << reply;
        };
        auto list = [&](QByteArray const& extra, QByteArray const& to = QByteArray()) {
            return frame_of(request_json(to.isEmpty() ? id : to, "PrinterListRequest", extra));
        };
        row("empty body", be32(0), error_reply("", 1, json_not_parsed));
        row("array", frame_of("[\"" + id + "\"]"), error_reply("", 2, json_not_object));
        row("no connection_id", frame_of("{\"kind\":\"PrinterListRequest\"}"),
            error_reply("", 3, element_missing));
        row("no kind", frame_of("{\"connection_id\":\"" + id + "\",\"version\":1}"),
            error_reply(id, 3, element_missing));
        row("version text", list("\"version\":\"1\""), error_reply(id, 6, value_unexpected));
        row("version 2", list("\"version\":2"), error_reply(id, 5, version_invalid));
        row("unregistered id without version", list("", unknown),
            error_reply(unknown, 1, connection_unknown));
        row("printRequest", frame_of(request_json(id, "printRequest")),
            error_reply(id, 4, kind_invalid));
        for (QByteArray const k :
             {"PrintRequest", "FingerprintCaptureRequest", "FingerprintMatchRequest",
              "ExecXserverRequest", "OpenPdfRequest", "OpenFileRequest", "OpenUrlRequest",
              "ImportFileRequest", "ExportFileRequest"}) {
            row(k.constData(), frame_of(request_json(id, k)), error_reply(id, 7, not_on_linux));
        }
        row("size one above the maximum", be32(104857601) + QByteArray(1000, 'x'),
            error_reply("", 5, size_invalid));
        row("largest size field", be32(0xffffffff), error_reply("", 5, size_invalid));
    }

    void error_replies() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(request + printer_list_request(id_)));
        QCOMPARE(c.read_frame(), frame(reply));
        QCOMPARE(c.wait_closed(), frame(QByteArray()));
    }

    void two_requests_in_one_write_get_two_replies_in_order() {
        QString const other = registered(numbered_printer_connection(4));
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(printer_list_request(other) + printer_list_request(id_)));
        QCOMPARE(c.read_frame(), frame(numbered_printer_reply(other, 4)));
        QCOMPARE(c.read_frame(), frame(three_printer_reply(id_)));
    }

    void size_field_in_two_segments() {
        client c;
        QVERIFY(c.connect_to(port_));
        c.socket().setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QByteArray const request = printer_list_request(id_);
        QVERIFY(c.send(request.left(1)));
        // The server holds the first byte before the other three arrive.
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(1));
        QVERIFY(c.send(request.mid(1, 3)));
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(0));
        QVERIFY(c.send(request.mid(4)));
        QCOMPARE(c.read_frame(), frame(three_printer_reply(id_)));
    }

    // A peer that pipelines requests and never reads its replies is held
    // back: the server stops reading once enough replies wait, and goes on
    // when they are taken. The replies, larger than the socket buffers, are
    // written in many pieces and still arrive whole and in order.
    void unread_replies_hold_the_peer_back() {
        int const count = 25000; // about 1.4 MB per reply
        QString const many = registered(numbered_printer_connection(count));
        QByteArray const expected = numbered_printer_reply(many, count);
        int const requests = 16;
        QByteArray pipeline;
        for (int i = 0; i < requests; ++i) {
            pipeline += printer_list_request(i == 1 ? id_ : many);
        }
        client c;
        QVERIFY(c.connect_to(port_));
        // The peer takes no more than this from the network until it reads.
        c.socket().setReadBufferSize(64 * 1024);
        QVERIFY(c.send(pipeline));
        std::int64_t const bound = tcp_server::max_queued_reply_bytes + expected.size();
        QTRY_VERIFY(usage_of(*tunnel_).queued_reply_bytes >= tcp_server::max_queued_reply_bytes);
        // Checking that something does not happen needs a bounded wait.
        QTest::qWait(300);
        QVERIFY2(usage_of(*tunnel_).queued_reply_bytes <= bound,
                 QByteArray::number(qlonglong(usage_of(*tunnel_).queued_reply_bytes)));
        for (int i = 0; i < requests; ++i) {
            QCOMPARE(c.read_frame(), frame(i == 1 ? three_printer_reply(id_) : expected));
        }
        QCOMPARE(usage_of(*tunnel_).queued_reply_bytes, std::int64_t(0));
    }

    void body_of_the_maximum_size_is_answered() {
        QByteArray body =
            request_json(id_.toLatin1(), "PrinterListRequest", "\"version\":1,\"padding\":\"");
        body += QByteArray(104857600 - body.size() - 2, 'x') + "\"}";
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857600) + body));
        body.clear();
        QCOMPARE(c.read_frame(120000), frame(three_printer_reply(id_)));
        // The connection stays open and the buffer is released.
        QCOMPARE(usage_of(*tunnel_).buffered_capacity, std::int64_t(0));
        QVERIFY(c.send(printer_list_request(id_)));
        QCOMPARE(c.read_frame(), frame(three_printer_reply(id_)));
    }

    // 100 MiB announced, 10 bytes sent: the server holds those 10 bytes, and
    // nothing once the peer has left (checked by cleanup()).
    void declared_length_costs_only_what_arrived() {
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857600) + QByteArray("{\"connecti")));
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(10));
        QVERIFY(usage_of(*tunnel_).buffered_capacity < 4096);
        QCOMPARE(usage_of(*tunnel_).clients, std::size_t(1));
        c.socket().abort();
    }

    // The port is open to every local user: connections beyond the limit
    // are closed at once, and those already served go on.
    void connections_beyond_the_limit_are_closed() {
        std::vector<std::unique_ptr<client>> held;
        for (std::size_t i = 0; i < tcp_server::max_clients; ++i) {
            held.push_back(std::make_unique<client>());
            QVERIFY(held.back()->connect_to(port_));
        }
        QTRY_COMPARE(usage_of(*tunnel_).clients, tcp_server::max_clients);
        client extra;
        QVERIFY(extra.connect_to(port_));
        QCOMPARE(extra.wait_closed(), frame(QByteArray()));
        QCOMPARE(usage_of(*tunnel_).clients, tcp_server::max_clients);
        QVERIFY(held.front()->send(printer_list_request(id_)));
        QCOMPARE(held.front()->read_frame(), frame(three_printer_reply(id_)));
    }

    // A peer that stops in the middle of a message is closed once it has
    // sent nothing for the stall timeout; an idle peer between messages is
    // left alone.
    void stalled_messages_are_closed() {
        tunnel_thread quick(0, 300);
        quint16 const port = port_of(quick);
        client stalled;
        client idle;
        QVERIFY(stalled.connect_to(port));
        QVERIFY(idle.connect_to(port));
        QVERIFY(idle.send(printer_list_request(id_)));
        QCOMPARE(idle.read_frame(), frame(three_printer_reply(id_)));
        QVERIFY(stalled.send(printer_list_request(id_).left(10)));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(stalled.wait_closed(10000).has_value());
        QVERIFY(clock.elapsed() >= 250);
        QCOMPARE(usage_of(quick).clients, std::size_t(1));
        QVERIFY(idle.send(printer_list_request(id_)));
        QCOMPARE(idle.read_frame(), frame(three_printer_reply(id_)));
    }

    // Everyone sends before anyone reads; each pair of requests is split in two writes.
    void many_clients_each_get_their_own_replies() {
        int const count = 24;
        std::vector<std::unique_ptr<client>> clients;
        QStringList ids;
        auto requests = [&](int i) {
            return printer_list_request(ids[i]) + printer_list_request(ids[i]);
        };
        for (int i = 0; i < count; ++i) {
            ids.append(registered(numbered_printer_connection(i)));
            clients.push_back(std::make_unique<client>());
            QVERIFY(clients.back()->connect_to(port_));
            QVERIFY(clients.back()->send(requests(i).left(i + 1)));
        }
        for (int i = count - 1; i >= 0; --i) {
            QVERIFY(clients[std::size_t(i)]->send(requests(i).mid(i + 1)));
        }
        for (int i = 0; i < count; ++i) {
            for (int twice = 0; twice < 2; ++twice) {
                QCOMPARE(clients[std::size_t(i)]->read_frame(),
                         frame(numbered_printer_reply(ids[i], i)));
            }
        }
    }

    void listens_on_127_0_0_1_only_data() {
        QTest::addColumn<QString>("address");
        for (char const* address : {"127.0.0.1", "127.0.0.2", "::1"}) {
            QTest::newRow(address) << QString::fromLatin1(address);
        }
    }

    void listens_on_127_0_0_1_only() {
        QFETCH(QString, address);
        bool const reachable = address == QLatin1String("127.0.0.1");
        client c;
        QCOMPARE(c.connect_to(port_, QHostAddress(address)), reachable);
        QCOMPARE(c.socket().error(), reachable ? QAbstractSocket::UnknownSocketError
                                               : QAbstractSocket::ConnectionRefusedError);
    }

    void notice_from_a_socket_without_state_is_ignored_data() {
        QTest::addColumn<bool>("write_notice");
        QTest::newRow("readyRead") << false;
        QTest::newRow("bytesWritten") << true;
    }

    void notice_from_a_socket_without_state_is_ignored() {
        QFETCH(bool, write_notice);
        QTcpServer helper;
        QVERIFY(helper.listen(QHostAddress::LocalHost, 0));
        // A socket in the server's thread, wired to the server but never accepted by it.
        tcp_server* const server = tunnel_->server();
        ask(*tunnel_, [&](tcp_server&) {
            auto* stray = new QTcpSocket(server);
            if (write_notice) {
                connect(stray, &QTcpSocket::bytesWritten, server, &tcp_server::on_bytes_written);
                connect(stray, &QTcpSocket::connected, stray, [stray] { stray->write("x"); });
            } else {
                connect(stray, &QTcpSocket::readyRead, server, &tcp_server::on_ready_read);
            }
            stray->connectToHost(QHostAddress::LocalHost, helper.serverPort());
            return 0;
        });
        QVERIFY(helper.waitForNewConnection(10000));
        client peer(helper.nextPendingConnection());
        QVERIFY(write_notice || peer.send(printer_list_request(id_)));
        // The server closes the socket and writes nothing to it.
        QCOMPARE(peer.wait_closed(), frame(write_notice ? "x" : ""));
        // And it goes on serving its own clients.
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(printer_list_request(id_)));
        QCOMPARE(c.read_frame(), frame(three_printer_reply(id_)));
    }

    void port_in_use_leaves_the_server_idle() {
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        tunnel_thread idle(occupant.serverPort());
        QCOMPARE(port_of(idle), quint16(0));
    }

    void shutdown_ends_the_thread_and_its_connections() {
        auto own = std::make_unique<tunnel_thread>(0);
        quint16 const port = port_of(*own);
        client c;
        QVERIFY(c.connect_to(port));
        QVERIFY(c.send(be32(100) + QByteArray(10, '{'))); // mid-body
        QTRY_COMPARE(usage_of(*own).buffered_bytes, std::int64_t(10));
        own.reset();
        QVERIFY(c.wait_closed().has_value());
        client late;
        QVERIFY(!late.connect_to(port));
    }

private:
    QString id_;
    std::unique_ptr<tunnel_thread> tunnel_;
    quint16 port_ = 0;
};

QTEST_GUILESS_MAIN(tst_tunnel_server)
#include "tst_tunnel_server.moc"
