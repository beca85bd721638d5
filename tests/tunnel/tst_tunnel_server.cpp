// The tunnel server over real loopback sockets, running in its own thread.

#include "tunnel/tunnel_fixtures.hpp"

#include <QTest>

using namespace kelvra::testing::tunnel;
using kelvra::tunnel::tcp_server;
using kelvra::tunnel::tunnel_thread;

class tst_tunnel_server : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        tunnel_ = std::make_unique<tunnel_thread>(0);
        port_ = port_of(*tunnel_);
        QVERIFY(port_ != 0);
    }

    void cleanupTestCase() { tunnel_.reset(); }

    // Every test leaves no connection behind, also those whose peer left mid-message.
    void cleanup() { QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0)); }

    // A peer that pipelines requests and never reads its replies is held back
    // until it takes them. The replies arrive whole and in order all the same,
    // the error reply last, and only then does the connection close.
    void unread_replies_hold_the_peer_back() {
        int const length = 1400000;
        QString const large = registered(three_printer_connection(length));
        QByteArray pipeline;
        QByteArray expected;
        for (int i = 0; i < 16; ++i) {
            pipeline += printer_list_request(i == 1 ? id_ : large);
            expected += i == 1 ? sound_ : three_printer_reply(large, length);
        }
        pipeline += frame_of("[]") + printer_list_request(id_);
        expected += error_reply("", 2, json_not_object);
        client c;
        QVERIFY(c.connect_to(port_));
        c.socket().setReadBufferSize(64 * 1024); // nothing more taken from the network
        QVERIFY(c.send(pipeline));
        // Paused, the server queues nothing more until the peer reads.
        QTRY_COMPARE(usage_of(*tunnel_).paused_clients, std::size_t(1));
        QVERIFY(usage_of(*tunnel_).queued_reply_bytes <=
                tcp_server::max_queued_reply_bytes + length + 400);
        QVERIFY(c.read(expected.size()) == expected);
        QVERIFY(c.closed_silently());
    }

    // Bodies of all peers share one budget. A body that does not fit waits,
    // with its peer's input, until another has been answered or its peer has
    // left; smaller ones that fit go ahead. None is refused.
    void bodies_wait_for_the_budget() {
        int const padding = 300000;
        std::int64_t const budget = 1024 * 1024; // one such body at a time
        tunnel_thread small(0, tcp_server::default_stall_timeout_ms, budget);
        quint16 const port = port_of(small);
        QByteArray const body =
            request_json(id_.toLatin1(), "PrinterListRequest",
                         "\"version\":1,\"padding\":\"" + QByteArray(padding, 'x') + "\"");
        QByteArray const request = frame_of(body);
        std::vector<std::unique_ptr<client>> peers;
        for (int i = 0; i < 4; ++i) {
            peers.push_back(std::make_unique<client>());
            QVERIFY(peers.back()->connect_to(port));
            QVERIFY(peers.back()->send(request.left(request.size() / 2)));
            QTRY_COMPARE(usage_of(small).budget_used, 2 * std::int64_t(body.size()));
            QTRY_COMPARE(usage_of(small).over_budget_clients, std::size_t(i));
        }
        auto const held = usage_of(small);
        QVERIFY(held.buffered_bytes <= body.size());
        client quick;
        QVERIFY(quick.connect_to(port));
        QVERIFY(quick.send(printer_list_request(id_)));
        QCOMPARE(quick.read(sound_.size()), sound_);
        // The peer being read leaves: its share goes to the next.
        peers.erase(peers.begin());
        QTRY_COMPARE(usage_of(small).over_budget_clients, std::size_t(2));
        QCOMPARE(usage_of(small).budget_used, held.budget_used);
        for (auto& peer : peers) {
            QVERIFY(peer->send(request.mid(request.size() / 2) + printer_list_request(id_)));
        }
        for (auto& peer : peers) {
            QCOMPARE(peer->read(sound_.size() * 2), sound_ + sound_);
        }
        QCOMPARE(usage_of(small).budget_used, std::int64_t(0));
    }

    void largest_body_is_answered() {
        QByteArray body =
            request_json(id_.toLatin1(), "PrinterListRequest", "\"version\":1,\"padding\":\"");
        body += QByteArray(104857600 - body.size() - 2, 'x') + "\"}";
        client c;
        QVERIFY(c.connect_to(port_));
        QVERIFY(c.send(be32(104857600) + body.left(10)));
        // The server holds what arrived, not what was announced.
        QTRY_COMPARE(usage_of(*tunnel_).buffered_bytes, std::int64_t(10));
        QVERIFY(usage_of(*tunnel_).buffered_capacity < 4096);
        QVERIFY(c.send(body.mid(10)));
        body.clear();
        QCOMPARE(c.read(sound_.size(), 120000), sound_);
        QCOMPARE(usage_of(*tunnel_).buffered_capacity, std::int64_t(0));
    }

    // The port is open to every local user: connections beyond the limit are
    // closed. Those served, each with part of a request sent, go on.
    void connections_beyond_the_limit_are_closed() {
        std::vector<std::unique_ptr<client>> held;
        QStringList ids;
        auto request = [&](int i) { return printer_list_request(ids[i]); };
        for (std::size_t i = 0; i < tcp_server::max_clients; ++i) {
            ids.append(registered(three_printer_connection()));
            held.push_back(std::make_unique<client>());
            QVERIFY(held.back()->connect_to(port_));
            QVERIFY(held.back()->send(request(int(i)).left(int(i) + 1)));
        }
        QTRY_COMPARE(usage_of(*tunnel_).clients, tcp_server::max_clients);
        client extra;
        QVERIFY(extra.connect_to(port_));
        QVERIFY(extra.closed_silently());
        for (int i = int(held.size()) - 1; i >= 0; --i) {
            QVERIFY(held[std::size_t(i)]->send(request(i).mid(i + 1) + request(i)));
        }
        for (int i = 0; i < 2 * int(held.size()); ++i) {
            QByteArray const reply = three_printer_reply(ids[i / 2]);
            QCOMPARE(held[std::size_t(i / 2)]->read(reply.size()), reply);
        }
    }

    // A peer that stops in the middle of a message is closed; an idle peer
    // between messages is left alone.
    void stalled_messages_are_closed() {
        tunnel_thread quick(0, 300);
        quint16 const port = port_of(quick);
        client stalled;
        client idle;
        QVERIFY(stalled.connect_to(port));
        QVERIFY(idle.connect_to(port));
        QVERIFY(idle.send(printer_list_request(id_)));
        QCOMPARE(idle.read(sound_.size()), sound_);
        QVERIFY(stalled.send(printer_list_request(id_).left(10)));
        QVERIFY(stalled.closed_silently());
        QCOMPARE(usage_of(quick).clients, std::size_t(1));
        QVERIFY(idle.send(printer_list_request(id_)));
        QCOMPARE(idle.read(sound_.size()), sound_);
    }

    void listens_on_127_0_0_1_only() {
        for (char const* address : {"127.0.0.2", "::1"}) {
            client c;
            QVERIFY2(!c.connect_to(port_, QHostAddress(address)), address);
            QCOMPARE(c.socket().error(), QAbstractSocket::ConnectionRefusedError);
        }
    }

private:
    QString const id_ = registered(three_printer_connection());
    QByteArray const sound_ = three_printer_reply(id_); // the reply to printer_list_request(id_)
    std::unique_ptr<tunnel_thread> tunnel_;
    quint16 port_ = 0;
};

QTEST_GUILESS_MAIN(tst_tunnel_server)
#include "tst_tunnel_server.moc"
