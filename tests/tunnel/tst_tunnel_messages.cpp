// The framing and message processing of the tunnel, without sockets. What
// needs a connection is in tst_tunnel_server.

#include "tunnel/tunnel_fixtures.hpp"

#include "tunnel/framing.hpp"

#include <QTest>

#include <algorithm>

using namespace kelvra::testing::tunnel;
namespace tunnel = kelvra::tunnel;

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

class tst_tunnel_messages : public QObject {
    Q_OBJECT

private slots:
    // Each message is followed by a sound request, which an error reply
    // leaves unanswered: the rest of the input is discarded.
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
        // Qt's parser leaks the value a repeated name replaces (caught by the
        // leak checker), so such bodies must be refused before it, however
        // the names are written.
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

private:
    QString const id_ = registered(three_printer_connection());
    QByteArray const sound_ = three_printer_reply(id_); // the reply to printer_list_request(id_)
};

QTEST_GUILESS_MAIN(tst_tunnel_messages)
#include "tst_tunnel_messages.moc"
