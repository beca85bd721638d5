// The tunnel's reader fed in pieces without sockets, its server on loopback sockets, and
// kelvra-probe, its client on the server side, against a real Unix socket. Frames and requests
// are written out by hand, never by the server's own encoder.
#include "connections/manager.hpp"
#include "tunnel/framing.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <memory>
#include <utility>

namespace tunnel = kelvra::tunnel;
using kelvra::tunnel::tcp_server;
using kelvra::tunnel::tunnel_thread;

namespace {

QString registered(kelvra::connection const& c) {
    return kelvra::manager::instance().register_connection(c);
}

QByteArray be32(quint32 n) {
    char const bytes[] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(bytes, 4);
}

QByteArray frame_of(QByteArray const& json) {
    return be32(static_cast<quint32>(json.size())) + json;
}

QByteArray error_reply(QByteArray const& connection_id, int code, QByteArray const& message) {
    return frame_of("{\"code\":" + QByteArray::number(code) + ",\"connection_id\":\"" +
                    connection_id + "\",\"kind\":\"Error\",\"message\":\"" + message +
                    "\",\"version\":1}");
}

// A request body; `extra` holds further members written as JSON.
QByteArray request_json(QByteArray const& connection_id, QByteArray const& kind,
                        QByteArray const& extra = "\"version\":1") {
    return "{\"connection_id\":\"" + connection_id + "\",\"kind\":\"" + kind + "\"" +
           (extra.isEmpty() ? QByteArray() : "," + extra) + "}";
}

QByteArray printer_list_request(QString const& connection_id) {
    return frame_of(request_json(connection_id.toLatin1(), "PrinterListRequest"));
}

// Non-ASCII names, quotes and a backslash; `padding` lengthens the first identifier.
kelvra::connection three_printer_connection(int padding = 0) {
    kelvra::connection c;
    c.printers = {
        {QStringLiteral("HP-01") + QString(padding, QLatin1Char('n')), QStringLiteral("Financeiro"),
         1},
        {QStringLiteral("ZB\\2 \"etiquetas\""), QStringLiteral("Impressão Térmica"), 3},
        {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0},
    };
    return c;
}

QByteArray three_printer_reply(QString const& connection_id, int padding = 0) {
    return frame_of("{\"connection_id\":\"" + connection_id.toLatin1() +
                    "\",\"kind\":\"PrinterListResponse\",\"printers\":["
                    "{\"identificador\":\"HP-01" +
                    QByteArray(padding, 'n') +
                    "\",\"nome\":\"Financeiro\",\"tipo\":1},"
                    "{\"identificador\":\"ZB\\\\2 \\\"etiquetas\\\"\","
                    "\"nome\":\"Impress\xc3\xa3o T\xc3\xa9rmica\",\"tipo\":3},"
                    "{\"identificador\":\"lp0\",\"nome\":\"Expedi\xc3\xa7\xc3\xa3o\",\"tipo\":0}],"
                    "\"version\":1}");
}

QByteArray const json_not_parsed =
    "N\xc3\xa3o foi poss\xc3\xadvel montar o json a partir dos dados";
QByteArray const json_not_object = "Formato do json inv\xc3\xa1lido";
QByteArray const element_missing = "Elemento n\xc3\xa3o encontrado";
QByteArray const kind_invalid = "Valor do campo kind \xc3\xa9 inv\xc3\xa1lido";
QByteArray const version_invalid = "Valor do campo version \xc3\xa9 inv\xc3\xa1lido";
QByteArray const value_unexpected = "Valor do campo difere do esperado";
QByteArray const size_invalid = "Tamanho da mensagem inv\xc3\xa1lido";
QByteArray const not_on_linux =
    "Requisi\xc3\xa7\xc3\xa3o ainda n\xc3\xa3o dispon\xc3\xadvel em sistemas Linux";
QByteArray const connection_unknown = "O id da conex\xc3\xa3o n\xc3\xa3o existe";

template <class F> auto ask(kelvra::tunnel::tunnel_thread& t, F f) {
    decltype(f(*t.server())) out{};
    QMetaObject::invokeMethod(
        t.server(), [&] { out = f(*t.server()); }, Qt::BlockingQueuedConnection);
    return out;
}
quint16 port_of(kelvra::tunnel::tunnel_thread& t) {
    return ask(t, [](kelvra::tunnel::tcp_server& s) { return s.listening_port(); });
}
kelvra::tunnel::tcp_server::usage usage_of(kelvra::tunnel::tunnel_thread& t) {
    return ask(t, [](kelvra::tunnel::tcp_server& s) { return s.current_usage(); });
}

// A blocking loopback client; its waits only bound a hang.
class client {
public:
    bool connect_to(quint16 port, QHostAddress const& address = QHostAddress::LocalHost) {
        socket_->connectToHost(address, port);
        return socket_->waitForConnected(10000);
    }
    bool send(QByteArray const& bytes) {
        socket_->write(bytes);
        while (socket_->bytesToWrite() > 0 && socket_->waitForBytesWritten(120000)) {
        }
        return socket_->bytesToWrite() == 0;
    }
    // The next `count` bytes, or fewer when the peer closed first.
    QByteArray read(qint64 count, int timeout_ms = 10000) {
        QDeadlineTimer const deadline(timeout_ms);
        while ((pending_ += socket_->readAll()).size() < count && !deadline.hasExpired() &&
               socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->waitForReadyRead(int(deadline.remainingTime()));
        }
        return std::exchange(pending_, pending_.mid(int(count))).left(int(count));
    }
    bool closed_silently() {
        return read(1).isEmpty() && socket_->state() != QAbstractSocket::ConnectedState;
    }
    QTcpSocket& socket() { return *socket_; }

private:
    std::unique_ptr<QTcpSocket> socket_ = std::make_unique<QTcpSocket>();
    QByteArray pending_;
};

QByteArray const probe_id("7b2d2d7d");
QByteArray const probe_request = printer_list_request(QString::fromLatin1(probe_id));

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

    // The server answers the whole request with `answer` (empty: closes). Exit 0: a reply,
    // 1: an error reply, 2: no environment or workstation, 3: a malformed reply, 64: usage.
    void probe_exchanges_data() {
        QTest::addColumn<QByteArray>("connection_id"); // null: not in the environment
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("exit_status");
        // Then the options and the request they make, the environment, a listener.
        auto row = [](char const* tag, QByteArray const& answer, int exit_status,
                      QStringList const& options = {}, QByteArray const& request = probe_request,
                      QByteArray const& connection_id = probe_id, bool listening = true) {
            QTest::newRow(tag) << connection_id << listening << options << answer << request
                               << exit_status;
        };
        row("default request, reply",
            frame_of(
                "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListResponse\",\"printers\":["
                "{\"nome\":\"Balc\\u00e3o \\\"1\\\"\",\"tipo\":1}],\"version\":1}"),
            0);
        row("chosen kind and version, error reply", error_reply(probe_id, 7, not_on_linux), 1,
            {"--kind", "Open\"Url\"\\Request\n", "--version", "-3"},
            frame_of(
                "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"Open\\\"Url\\\"\\\\Request\\u000a\","
                "\"version\":-3}"));
        row("closed without a reply", {}, 2);
        row("reply that is no JSON object", frame_of("[1,2]"), 3);
        row("reply with trailing text", frame_of("{\"kind\":\"A\"} x"), 3);
        row("reply with a bad escape", frame_of("{\"kind\":\"\\q\"}"), 3);
        row("deeply nested reply, refused and no crash",
            frame_of("{\"a\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"), 3);
        row("reply announced above the limit", QByteArray::fromHex("06400001"), 3);
        row("no connection id in the environment", frame_of("{}"), 2, {}, {}, QByteArray());
        row("connection id that names another path", frame_of("{}"), 2, {}, {}, "../../x");
        row("no forward listening", {}, 2, {}, {}, probe_id, false);
        row("unknown option", {}, 64, {"--port", "1"}, {});
        row("empty kind", {}, 64, {"--kind", ""}, {});
    }

    void probe_exchanges() {
        QFETCH(QByteArray, connection_id);
        QFETCH(bool, listening);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QFETCH(int, exit_status);
        QTemporaryDir dir;
        QString const path = dir.filePath(QStringLiteral("tunnel"));
        QLocalServer server;
        QVERIFY(!listening || server.listen(path));
        QByteArray received;
        connect(&server, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* const peer = server.nextPendingConnection();
            connect(peer, &QLocalSocket::readyRead, this, [&, peer] {
                received += peer->readAll();
                if (received.size() >= 4 && static_cast<quint32>(received.size()) >=
                                                4 + qFromBigEndian<quint32>(received.constData())) {
                    if (answer.isEmpty()) {
                        peer->disconnectFromServer();
                    } else {
                        peer->write(answer);
                    }
                }
            });
        });
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("KELVRA_CONNECTION_ID"));
        if (!connection_id.isNull()) {
            environment.insert(QStringLiteral("KELVRA_CONNECTION_ID"),
                               QString::fromLatin1(connection_id));
        }
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(KELVRA_PROBE_PATH),
                    QStringList{"--socket", path, "--timeout", "20"} + options);
        QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, 60000);
        QCOMPARE(probe.exitCode(), exit_status);
        QCOMPARE(received, request);
        if (exit_status <= 1) {
            QCOMPARE(probe.readAllStandardOutput(), answer.mid(4) + '\n');
        }
    }
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
        for (int i = 0; i < 40; ++i) {
            many += "\"n" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ',';
        }
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
        // A body alone always goes ahead, the largest too; what arrived is held, not what was
        // announced.
        QByteArray large =
            request_json(id_.toLatin1(), "PrinterListRequest", "\"version\":1,\"padding\":\"");
        large += QByteArray(104857600 - large.size() - 2, 'x') + "\"}";
        QVERIFY(quick.send(be32(104857600) + large.left(10)));
        QTRY_COMPARE(usage_of(small).buffered_bytes, std::int64_t(10));
        QVERIFY(usage_of(small).buffered_capacity < 4096);
        QVERIFY(quick.send(large.mid(10)));
        large.clear();
        QCOMPARE(quick.read(sound_.size(), 120000), sound_);
        QCOMPARE(usage_of(small).buffered_capacity, std::int64_t(0));
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
