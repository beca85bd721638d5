// The tunnel server over real loopback sockets, running in its own thread.

#include "tunnel/tunnel_fixtures.hpp"

#include "connections/manager.hpp"
#include "tunnel/tcp_server.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

using namespace kelvra::testing::tunnel;
using kelvra::tunnel::tcp_server;
using kelvra::tunnel::tunnel_thread;

namespace {

QString registered(kelvra::connection const& c) {
    return kelvra::manager::instance().register_connection(c);
}

// Runs `f` in the server's thread and waits for it.
template <class F> void in_server_thread(tunnel_thread& t, F&& f) {
    QMetaObject::invokeMethod(t.server(), std::forward<F>(f), Qt::BlockingQueuedConnection);
}

tcp_server::usage usage_of(tunnel_thread& t) {
    tcp_server::usage u;
    in_server_thread(t, [&] { u = t.server()->current_usage(); });
    return u;
}

quint16 port_of(tunnel_thread& t) {
    quint16 port = 0;
    in_server_thread(t, [&] { port = t.server()->listening_port(); });
    return port;
}

QByteArray body_of(QByteArray const& frame) {
    return frame.mid(4);
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

    // Every test leaves no connection behind.
    void cleanup() { QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0)); }

    void replies_data() {
        QTest::addColumn<QByteArray>("request"); // a frame; %ID% stands for the registered id
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closes");

        QByteArray const unknown = "7b" + QByteArray(72, '0') + "7d";
        QTest::newRow("printer list")
            << printer_list_request(QStringLiteral("%ID%")) << QByteArray("%REPLY%") << false;
        QTest::newRow("array") << frame_of("[\"%ID%\"]") << error_reply("", 2, json_not_object)
                               << true;
        QTest::newRow("not json") << frame_of("{\"connection_id\":")
                                  << error_reply("", 1, json_not_parsed) << true;
        QTest::newRow("empty body") << be32(0) << error_reply("", 1, json_not_parsed) << true;
        QTest::newRow("no connection_id") << frame_of("{\"kind\":\"PrinterListRequest\"}")
                                          << error_reply("", 3, element_missing) << true;
        QTest::newRow("no kind") << frame_of("{\"connection_id\":\"%ID%\",\"version\":1}")
                                 << error_reply("%ID%", 3, element_missing) << true;
        QTest::newRow("version text")
            << frame_of(request_json("%ID%", "PrinterListRequest", "\"version\":\"1\""))
            << error_reply("%ID%", 6, value_unexpected) << true;
        QTest::newRow("version 2")
            << frame_of(request_json("%ID%", "PrinterListRequest", "\"version\":2"))
            << error_reply("%ID%", 5, version_invalid) << true;
        QTest::newRow("version missing")
            << frame_of(request_json("%ID%", "PrinterListRequest", QByteArray()))
            << error_reply("%ID%", 3, element_missing) << true;
        QTest::newRow("unregistered id without version")
            << frame_of(request_json(unknown, "PrinterListRequest", QByteArray()))
            << error_reply(unknown, 1, connection_unknown) << true;
        QTest::newRow("printRequest") << frame_of(request_json("%ID%", "printRequest"))
                                      << error_reply("%ID%", 4, kind_invalid) << true;
        QTest::newRow("unknown kind") << frame_of(request_json("%ID%", "Ping"))
                                      << error_reply("%ID%", 4, kind_invalid) << true;
        for (QByteArray const& k : unavailable_kinds()) {
            QTest::addRow("%s", k.constData()) << frame_of(request_json("%ID%", k))
                                               << error_reply("%ID%", 7, not_on_linux) << true;
        }
    }

    void replies() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, closes);
        QByteArray const id = id_.toLatin1();
        request.replace("%ID%", id);
        reply = reply == "%REPLY%" ? three_printer_reply(id_) : reply.replace("%ID%", id);
        // The id placeholder is as long as no id; fix the length field after replacing.
        request = frame_of(body_of(request));
        reply = frame_of(body_of(reply));

        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(request));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(reply));
        if (closes) {
            QCOMPARE(c.wait_closed(), std::optional<QByteArray>(QByteArray()));
        } else {
            // Still serving: a second request is answered too.
            QVERIFY(c.send(printer_list_request(id_)));
            QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
        }
    }

    void two_requests_in_one_write_get_two_replies_in_order() {
        QString const other = registered(numbered_printer_connection(4));
        client c;
        QVERIFY(c.connect_to(port_));
        c.socket().setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QVERIFY(c.send(printer_list_request(other) + printer_list_request(id_)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(numbered_printer_reply(other, 4)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
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
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
    }

    void replies_larger_than_the_socket_buffers_stay_whole_and_ordered() {
        // About 1.4 MB per reply: each is written in many partial writes.
        int const count = 25000;
        QString const many = registered(numbered_printer_connection(count));
        QByteArray const expected = numbered_printer_reply(many, count);
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(printer_list_request(many) + printer_list_request(id_) +
                       printer_list_request(many)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(expected));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(expected));
    }

    // A peer that pipelines requests and never reads its replies is held
    // back: the server stops reading once enough replies wait, and goes on
    // when they are taken.
    void unread_replies_hold_the_peer_back() {
        int const count = 25000; // about 1.4 MB per reply
        QString const many = registered(numbered_printer_connection(count));
        QByteArray const expected = numbered_printer_reply(many, count);
        int const requests = 16;
        QByteArray pipeline;
        for (int i = 0; i < requests; ++i) {
            pipeline += printer_list_request(many);
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
            QCOMPARE(c.read_frame(), std::optional<QByteArray>(expected));
        }
        QCOMPARE(usage_of(*tunnel_).queued_reply_bytes, std::int64_t(0));
    }

    void body_of_the_maximum_size_is_answered() {
        QByteArray body =
            request_json(id_.toLatin1(), "PrinterListRequest", "\"version\":1,\"padding\":\"");
        body += QByteArray(104857600 - body.size() - 2, 'x');
        body += "\"}";
        QCOMPARE(body.size(), 104857600);
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857600) + body));
        body.clear();
        QCOMPARE(c.read_frame(120000), std::optional<QByteArray>(three_printer_reply(id_)));
        // The connection stays open and the buffer is released.
        QCOMPARE(usage_of(*tunnel_).buffered_capacity, std::int64_t(0));
        QVERIFY(c.send(printer_list_request(id_)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
    }

    void size_above_the_maximum_is_refused_and_the_connection_closed() {
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857601) + QByteArray(1000, 'x')));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(error_reply("", 5, size_invalid)));
        QCOMPARE(c.wait_closed(), std::optional<QByteArray>(QByteArray()));
    }

    void bytes_after_an_error_reply_get_nothing() {
        client c;
        QVERIFY(c.connect_to(port_));
        // Sent together with the faulty request, and after its reply.
        QVERIFY(c.send(frame_of("[]") + printer_list_request(id_)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(error_reply("", 2, json_not_object)));
        c.send(printer_list_request(id_)); // may already fail: the server is closing
        QCOMPARE(c.wait_closed(), std::optional<QByteArray>(QByteArray()));
    }

    void declared_length_costs_only_what_arrived() {
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857600) + QByteArray("{\"connecti")));
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(10));
        QVERIFY(usage_of(*tunnel_).buffered_capacity < 4096);
        c.abort();
    }

    void peer_leaving_mid_body_leaves_no_state() {
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(5000) + QByteArray(3000, ' ')));
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(3000));
        QCOMPARE(usage_of(*tunnel_).clients, std::size_t(1));
        c.abort();
        QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0));
        QCOMPARE(usage_of(*tunnel_).buffered_capacity, std::int64_t(0));
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
        QCOMPARE(extra.wait_closed(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(usage_of(*tunnel_).clients, tcp_server::max_clients);

        QVERIFY(held.front()->send(printer_list_request(id_)));
        QCOMPARE(held.front()->read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
        held.clear();
        QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0));
        client later;
        QVERIFY(later.connect_to(port_));
        QVERIFY(later.send(printer_list_request(id_)));
        QCOMPARE(later.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
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
        QCOMPARE(idle.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
        QVERIFY(stalled.send(printer_list_request(id_).left(10)));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(stalled.wait_closed(10000).has_value());
        QVERIFY(clock.elapsed() >= 250);
        QCOMPARE(usage_of(quick).clients, std::size_t(1));
        QVERIFY(idle.send(printer_list_request(id_)));
        QCOMPARE(idle.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
    }

    void many_clients_each_get_their_own_replies() {
        int const count = 24;
        std::vector<std::unique_ptr<client>> clients;
        QStringList ids;
        for (int i = 0; i < count; ++i) {
            ids.append(registered(numbered_printer_connection(i)));
            clients.push_back(std::make_unique<client>());
            QVERIFY(clients.back()->connect_to(port_));
        }
        // Everyone sends before anyone reads; each request is split in two writes.
        for (int i = 0; i < count; ++i) {
            QByteArray const r = printer_list_request(ids[i]) + printer_list_request(ids[i]);
            QVERIFY(clients[std::size_t(i)]->send(r.left(i + 1)));
        }
        for (int i = count - 1; i >= 0; --i) {
            QByteArray const r = printer_list_request(ids[i]) + printer_list_request(ids[i]);
            QVERIFY(clients[std::size_t(i)]->send(r.mid(i + 1)));
        }
        for (int i = 0; i < count; ++i) {
            QByteArray const expected = numbered_printer_reply(ids[i], i);
            QCOMPARE(clients[std::size_t(i)]->read_frame(), std::optional<QByteArray>(expected));
            QCOMPARE(clients[std::size_t(i)]->read_frame(), std::optional<QByteArray>(expected));
        }
    }

    void listens_on_127_0_0_1_only_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("reachable");
        QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("127.0.0.2") << QStringLiteral("127.0.0.2") << false;
        QTest::newRow("::1") << QStringLiteral("::1") << false;
    }

    void listens_on_127_0_0_1_only() {
        QFETCH(QString, address);
        QFETCH(bool, reachable);
        client c;
        QCOMPARE(c.connect_to(port_, QHostAddress(address)), reachable);
        if (!reachable) {
            QCOMPARE(c.error(), QAbstractSocket::ConnectionRefusedError);
        }
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
        in_server_thread(*tunnel_, [&] {
            auto* stray = new QTcpSocket(server);
            if (write_notice) {
                connect(stray, &QTcpSocket::bytesWritten, server, &tcp_server::on_bytes_written);
                connect(stray, &QTcpSocket::connected, stray, [stray] { stray->write("x"); });
            } else {
                connect(stray, &QTcpSocket::readyRead, server, &tcp_server::on_ready_read);
            }
            stray->connectToHost(QHostAddress::LocalHost, helper.serverPort());
        });
        QVERIFY(helper.waitForNewConnection(10000));
        std::unique_ptr<QTcpSocket> peer(helper.nextPendingConnection());
        if (!write_notice) {
            peer->write(printer_list_request(id_));
            QVERIFY(peer->waitForBytesWritten(10000));
        }
        // The server closes the socket and writes nothing to it.
        QByteArray received;
        while (peer->state() == QAbstractSocket::ConnectedState) {
            QVERIFY(peer->waitForReadyRead(10000) ||
                    peer->state() != QAbstractSocket::ConnectedState);
            received += peer->readAll();
        }
        received += peer->readAll();
        QCOMPARE(received, write_notice ? QByteArray("x") : QByteArray());
        // And it goes on serving its own clients.
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(printer_list_request(id_)));
        QCOMPARE(c.read_frame(), std::optional<QByteArray>(three_printer_reply(id_)));
    }

    void port_in_use_leaves_the_server_idle() {
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        tunnel_thread idle(occupant.serverPort());
        QCOMPARE(port_of(idle), quint16(0));
        QCOMPARE(usage_of(idle).clients, std::size_t(0));
    }

    void shutdown_ends_the_thread_and_its_connections() {
        auto own = std::make_unique<tunnel_thread>(0);
        quint16 const port = port_of(*own);
        QVERIFY(port != 0);
        client c;
        QVERIFY(c.connect_to(port));
        QVERIFY(c.send(be32(100) + QByteArray(10, '{'))); // mid-body
        QTRY_COMPARE(usage_of(*own).buffered_bytes, std::int64_t(10));
        QThread* const thread = own->thread();
        QVERIFY(thread->isRunning());
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
