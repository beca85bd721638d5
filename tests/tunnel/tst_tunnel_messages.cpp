// The framing and message processing of the tunnel, without sockets. The
// cases the server must answer over a connection are in tst_tunnel_server.

#include "tunnel/tunnel_fixtures.hpp"

#include "core/json_duplicate_names.hpp"
#include "tunnel/framing.hpp"
#include "tunnel/json_text.hpp"
#include "tunnel/message.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <algorithm>

using namespace kelvra::testing::tunnel;
namespace tunnel = kelvra::tunnel;

namespace {

class source final : public tunnel::byte_source {
public:
    QByteArray data;
    bool failing = false;
    std::int64_t available() const override { return data.size(); }
    std::int64_t read(char* into, std::int64_t max) override {
        int const n = failing ? -1 : int(std::min<std::int64_t>(max, data.size()));
        std::copy_n(data.constData(), std::max(n, 0), into);
        data.remove(0, std::max(n, 0));
        return n;
    }
};

class sink final : public tunnel::reply_sink {
public:
    void reply(QByteArray frame) override { frames.append(std::move(frame)); }
    QList<QByteArray> frames;
};

// Feeds `stream` in the pieces that `cuts` (ascending positions) make.
QList<QByteArray> feed(QByteArray const& stream, QVector<int> cuts) {
    tunnel::client_state state;
    source in;
    sink out;
    int from = 0;
    cuts.append(stream.size());
    for (int const to : cuts) {
        in.data += stream.mid(from, to - from);
        from = to;
        tunnel::read_requests(state, in, out);
        if (!in.data.isEmpty()) {
            return {"reader left bytes behind"};
        }
    }
    if (state.phase != 0 || !state.buffer.isEmpty()) {
        return {"reader kept a part of a message"};
    }
    return out.frames;
}

} // namespace

class tst_tunnel_messages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { id_ = registered(three_printer_connection()); }

    void stream_cut_anywhere_gives_the_same_replies() {
        QString const other = registered(numbered_printer_connection(2));
        QString const empty = registered(kelvra::connection{});
        QByteArray const stream =
            printer_list_request(id_) + printer_list_request(other) + printer_list_request(empty);
        QList<QByteArray> const expected = {
            three_printer_reply(id_), numbered_printer_reply(other, 2),
            frame_of("{\"connection_id\":\"" + empty.toLatin1() +
                     "\",\"kind\":\"PrinterListResponse\",\"printers\":[],\"version\":1}")};
        QVector<int> every_byte;
        for (int a = 0; a <= stream.size(); ++a) {
            QCOMPARE(feed(stream, {a}), expected);
            every_byte.append(a);
        }
        QCOMPARE(feed(stream, every_byte), expected);
    }

    void read_error_queues_nothing() {
        tunnel::client_state state;
        source in;
        in.data = printer_list_request(id_);
        in.failing = true;
        sink out;
        QCOMPARE(tunnel::read_requests(state, in, out), tunnel::read_outcome::read_failed);
        QVERIFY(out.frames.isEmpty());
        QVERIFY(state.buffer.isEmpty());
    }

    void process_message_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("reply");
        QByteArray const id = id_.toLatin1();
        QByteArray const list = "PrinterListRequest";
        auto row = [](char const* name, QByteArray const& body, QByteArray const& reply) {
            QTest::newRow(name) << body << reply;
        };
        row("sound, spaced, reordered",
            " {\"kind\":\"PrinterListRequest\",\"version\":1,\"connection_id\":\"" + id + "\"} ",
            three_printer_reply(id_));
        row("version 1.0", request_json(id, list, "\"version\":1.0"), three_printer_reply(id_));
        row("not json", "{\"kind\":", error_reply("", 1, json_not_parsed));
        row("trailing garbage", "{} {}", error_reply("", 1, json_not_parsed));
        row("invalid utf-8", "{\"kind\":\"\xff\xfe\"}", error_reply("", 1, json_not_parsed));
        row("deep nesting", QByteArray(100000, '['), error_reply("", 1, json_not_parsed));
        row("bare string", "\"x\"", error_reply("", 1, json_not_parsed));
        // The parser leaks the replaced value of a repeated name; under the
        // leak checker this row fails if such a body ever reaches it.
        row("repeated name", request_json(id, list, "\"version\":1,\"x\":[[{}]],\"x\":{\"z\":[1]}"),
            error_reply("", 1, json_not_parsed));
        row("id not a string", "{\"connection_id\":7,\"kind\":\"K\"}",
            error_reply("", 4, kind_invalid));
        row("kind not a string", "{\"connection_id\":\"c\",\"kind\":[]}",
            error_reply("c", 4, kind_invalid));
        row("id with characters to escape",
            "{\"connection_id\":\"a\\\"b\\\\c\\u0001\",\"kind\":\"x\"}",
            error_reply("a\\\"b\\\\c\\u0001", 4, kind_invalid));
        row("list in lower case", request_json(id, "printerlistrequest"),
            error_reply(id, 4, kind_invalid));
        row("version missing", request_json(id, list, ""), error_reply(id, 3, element_missing));
        for (QByteArray const v : {"0", "1.5", "true", "null", "4294967297"}) {
            QTest::addRow("version %s", v.constData()) << request_json(id, list, "\"version\":" + v)
                                                       << error_reply(id, 6, value_unexpected);
        }
        row("version -12", request_json(id, list, "\"version\":-12"),
            error_reply(id, 5, version_invalid));
    }

    void process_message() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, reply);
        tunnel::processed_message const out = tunnel::process_message(body);
        QCOMPARE(out.frame, reply);
        QCOMPARE(out.is_error, reply.contains("\"kind\":\"Error\""));
    }

    void repeated_names_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("repeated");
        auto row = [](char const* name, QByteArray const& json, bool repeated) {
            QTest::newRow(name) << json << repeated;
        };
        row("distinct", "[{\"a\":1,\"b\":{\"a\":2},\"c\":[{\"a\":3}]},{\"a\":\"a\",\"b\":\"a\"}]",
            false);
        row("top level", "{\"a\":1,\"a\":2}", true);
        row("in a nested object", "{\"a\":{\"x\":[1],\"y\":0,\"x\":2}}", true);
        row("in an array", "[1,{\"x\":[1],\"x\":[2]}]", true);
        row("escaped and plain", "{\"\\u0078\":[1],\"x\":2}", true);
        row("escaped and raw utf-8", "{\"\xc3\xa7\":1,\"\\u00e7\":2}", true);
        row("surrogate pair and raw utf-8", "{\"\xf0\x9f\x98\x80\":1,\"\\ud83d\\ude00\":2}", true);
        row("escaped quote in a name", "{\"a\\\"b\":1,\"a\\\"b\":2}", true);
        row("escaped backslash before the quote", "{\"a\\\\\":1,\"a\\\\\":2,\"b\":\"\\\\\"}", true);
        row("different escapes", "{\"\\n\":1,\"\\t\":2,\"\\/\":3,\"/\":4}", true);
        row("brackets inside strings", "{\"a\":\"{\\\"a\\\":1,\\\"a\\\":2}\",\"b\":\"]}\"}", false);
        row("before a syntax error", "[{\"x\":[1],\"x\":2}, nonsense", true);
        row("unterminated", "{\"a\":1,\"b", false);
        row("beyond the parser's depth", QByteArray(1025, '[') + "{\"a\":1,\"a\":2}", false);
    }

    void repeated_names() {
        QFETCH(QByteArray, json);
        QFETCH(bool, repeated);
        QCOMPARE(kelvra::has_duplicate_names(json), repeated);
    }

    void json_text_matches_qt_data() {
        QTest::addColumn<QString>("text");
        auto row = [](char const* name, std::initializer_list<char16_t> units) {
            QString s;
            for (char16_t u : units) {
                s.append(QChar(u));
            }
            QTest::newRow(name) << s;
        };
        row("control characters", {0, 1, 8, 9, 10, 12, 13, 0x1b, 0x1f, u'"', u'\\', u'/', 0x7f});
        row("two and three bytes", {0xe3, 0x7ff, 0x800, 0x20ac, 0xd7ff, 0xe000, 0xfdd0, 0xffff});
        // A pair, then a high half at the end, before ASCII, twice, and a low half alone.
        row("surrogates", {0xd83d, 0xde00, 0xd83d, u'a', 0xd83d, 0xd83d, 0xde00, 0xde00, 0xd83d});
    }

    // The replies used to be written through QJsonDocument; the direct
    // writer must give the same bytes.
    void json_text_matches_qt() {
        QFETCH(QString, text);
        QByteArray mine = "[";
        tunnel::json_text::append_string(mine, text);
        QCOMPARE(mine + "]", QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
    }

private:
    QString id_;
};

QTEST_GUILESS_MAIN(tst_tunnel_messages)
#include "tst_tunnel_messages.moc"
