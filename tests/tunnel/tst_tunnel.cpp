// The tunnel's reader fed in pieces without sockets, then its server on loopback sockets.
#include "tunnel/tunnel_fixtures.hpp"

#include "tunnel/framing.hpp"

#include <QTest>

#include <algorithm>

using namespace kelvra::testing::tunnel;
namespace tunnel = kelvra::tunnel;
using kelvra::tunnel::tcp_server;
using kelvra::tunnel::tunnel_thread;

namespace {

// The peer's bytes in, the server's replies out.
struct pipe final : tunnel::byte_source, tunnel::reply_sink {
    QByteArray data;
    QList<QByteArray> frames;
    std::int64_t available() const override { return data.size(); }
    std::int64_t read(char* into, std::int64_t max) override {
        int const n = int(std::min<std::int64_t>(max, data.size()));
        std::copy_n(data.constData(), n, into);
        data.remove(0, n);
        return n;
    }
    void reply(QByteArray frame) override { frames.append(std::move(frame)); }
};

// The replies to `stream` fed in the pieces that `cuts` (ascending) make.
QList<QByteArray> feed(QByteArray const& stream, QVector<int> cuts = {}) {
    tunnel::client_state state;
    pipe p;
    int from = 0;
    for (int const to : cuts << stream.size()) {
        p.data += stream.mid(from, to - from);
        from = to;
        tunnel::read_requests(state, p, p);
        if (!p.data.isEmpty()) {
            return {"reader left bytes behind"};
        }
    }
    return p.frames;
}

} // namespace

class tst_tunnel : public QObject {
    Q_OBJECT

private slots:
    // The first request is the first thing to reach the connection manager: made on the tunnel
    // thread, it would run the terminal programs' finish handlers there.
    void initTestCase() {
        tunnel_ = std::make_unique<tunnel_thread>(0);
        port_ = port_of(*tunnel_);
        client c;
        QVERIFY(port_ != 0 && c.connect_to(port_));
        QByteArray const unknown(76, '0');
        QVERIFY(c.send(frame_of(request_json(unknown, "PrinterListRequest"))));
        QByteArray const reply = error_reply(unknown, 1, connection_unknown);
        QCOMPARE(c.read(reply.size()), reply);
        QCOMPARE(kelvra::manager::instance().thread(), QThread::currentThread());
        id_ = registered(three_printer_connection());
        sound_ = three_printer_reply(id_);
    }

    void cleanupTestCase() { tunnel_.reset(); }

    // Every test leaves no connection behind, also those whose peer left mid-message.
    void cleanup() { QTRY_COMPARE(usage_of(*tunnel_).clients, std::size_t(0)); }

    // Each message is followed by a sound request, which an error reply leaves unanswered.
    void replies_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("reply");
        QByteArray const id = id_.toLatin1();
        QByteArray const list = "PrinterListRequest";
        QByteArray const unknown = "7b" + QByteArray(72, '0') + "7d";
        QByteArray const empty = registered(kelvra::connection{}).toLatin1();
        auto row = [](char const* name, QByteArray const& body, QByteArray const& reply) {
            QTest::newRow(name) << frame_of(body) << reply;
        };
        auto error = [&](char const* name, QByteArray const& body, QByteArray const& to, int code,
                         QByteArray const& text) { row(name, body, error_reply(to, code, text)); };
        // Qt's parser leaks the value a repeated name replaces: refused before it, however written.
        auto repeated = [&](char const* name, QByteArray const& members) {
            error(name, request_json(id, list, "\"version\":1," + members), "", 1, json_not_parsed);
        };
        row("sound, spaced, reordered",
            " {\"kind\":\"PrinterListRequest\",\"version\":1,\"connection_id\":\"" + id + "\"} ",
            sound_);
        row("version 1.0", request_json(id, list, "\"version\":1.0"), sound_);
        row("no printers", request_json(empty, list),
            frame_of("{\"connection_id\":\"" + empty +
                     "\",\"kind\":\"PrinterListResponse\",\"printers\":[],\"version\":1}"));
        row("names repeated only in strings and inner objects",
            request_json(
                id, list,
                "\"version\":1,\"a\":\"{\\\"a\\\":1,\\\"a\\\":2}\",\"b\":[{\"a\":1},{\"a\":2}]"),
            sound_);
        error("empty body", "", "", 1, json_not_parsed);
        error("not json", "{\"kind\":", "", 1, json_not_parsed);
        error("deep nesting", QByteArray(100000, '['), "", 1, json_not_parsed);
        repeated("repeated name", "\"x\":[[{}]],\"x\":{\"z\":[1]}");
        repeated("repeated in an array", "\"a\":[1,{\"x\":[1],\"y\":0,\"x\":2}]");
        repeated("repeated, escaped and plain", "\"\\u0078\":[1],\"x\":2");
        repeated("repeated, escaped and utf-8", "\"\xc3\xa7\":1,\"\\u00e7\":2");
        repeated("repeated, surrogates", "\"\xf0\x9f\x98\x80\":1,\"\\ud83d\\ude00\":2");
        repeated("repeated, escaped quote", "\"a\\\"b\":1,\"a\\\"b\":2");
        repeated("repeated, escaped backslash", "\"a\\\\\":1,\"b\":\"\\\\\",\"a\\\\\":2");
        QByteArray many; // past the names an object compares one by one
        for (int i = 0; i < 40; ++i)
            many += "\"n" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ',';
        row("many names", request_json(id, list, many + "\"version\":1"), sound_);
        repeated("repeated among many names", many + "\"\\u006e3\":[1]");
        error("array", "[\"" + id + "\"]", "", 2, json_not_object);
        error("no connection_id", "{\"kind\":\"PrinterListRequest\"}", "", 3, element_missing);
        error("no kind", "{\"connection_id\":\"" + id + "\",\"version\":1}", id, 3,
              element_missing);
        error("id not a string", "{\"connection_id\":7,\"kind\":\"K\"}", "", 4, kind_invalid);
        error("kind not a string", "{\"connection_id\":\"c\",\"kind\":[]}", "c", 4, kind_invalid);
        // Escaped as Qt's own writer escapes.
        error("id with characters to escape",
              "{\"connection_id\":\"a\\\"b\\\\c\\u0001\\b\\f\\n\\r\\t\\u001f\\u007f/\\u00e9\\u20ac"
              "\\ud83d\\ude00\\ud83dy\\ude00\\ud83d\",\"kind\":\"x\"}",
              "a\\\"b\\\\c\\u0001\\b\\f\\n\\r\\t\\u001f\x7f/\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"
              "\\ud83dy\\ude00\\ud83d",
              4, kind_invalid);
        error("printRequest", request_json(id, "printRequest"), id, 4, kind_invalid);
        error("version missing", request_json(id, list, ""), id, 3, element_missing);
        error("unregistered id without version", request_json(unknown, list, ""), unknown, 1,
              connection_unknown);
        for (QByteArray const v : {"0", "\"1\"", "1.5", "true", "null", "4294967297"}) {
            error(("version " + v).constData(), request_json(id, list, "\"version\":" + v), id, 6,
                  value_unexpected);
        }
        error("version -12", request_json(id, list, "\"version\":-12"), id, 5, version_invalid);
        for (QByteArray const k :
             {"PrintRequest", "FingerprintCaptureRequest", "FingerprintMatchRequest",
              "ExecXserverRequest", "OpenPdfRequest", "OpenFileRequest", "OpenUrlRequest",
              "ImportFileRequest", "ExportFileRequest"}) {
            error(k.constData(), request_json(id, k), id, 7, not_on_linux);
        }
        QTest::newRow("size one above the maximum")
            << be32(104857601) + QByteArray(1000, 'x') << error_reply("", 5, size_invalid);
        QTest::newRow("largest size field") << be32(0xffffffff) << error_reply("", 5, size_invalid);
    }

    // The same replies however the stream is cut.
    void replies() {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, reply);
        QList<QByteArray> expected{reply};
        if (!reply.contains("\"kind\":\"Error\"")) {
            expected.append(sound_);
        }
        QByteArray const stream = message + printer_list_request(id_);
        QVector<int> every_byte;
        for (int at = 0; at <= stream.size() && stream.size() < 4096; ++at) {
            QCOMPARE(feed(stream, {at}), expected);
            every_byte.append(at);
        }
        QCOMPARE(feed(stream, every_byte), expected);
    }

    // A peer that never reads is held back; its replies still come whole, in order, error last.
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

    // Bodies share one budget: one that does not fit waits, smaller ones go ahead, none is refused.
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

    // The port is open to every local user: connections beyond the limit are closed.
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

    // A peer that stops mid-message is closed; one idle between messages is left alone.
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
    QString id_;       // registered after the first request
    QByteArray sound_; // the reply to printer_list_request(id_)
    std::unique_ptr<tunnel_thread> tunnel_;
    quint16 port_ = 0;
};

QTEST_GUILESS_MAIN(tst_tunnel)
#include "tst_tunnel.moc"
