// The framing and message processing of the tunnel, without sockets: byte
// streams cut in every way, the envelope checks and the request handlers.

#include "tunnel/tunnel_fixtures.hpp"

#include "connections/manager.hpp"
#include "core/json_duplicate_names.hpp"
#include "core/status.hpp"
#include "tunnel/framing.hpp"
#include "tunnel/json_text.hpp"
#include "tunnel/message.hpp"
#include "tunnel/request_handlers.hpp"
#include "tunnel/status.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <algorithm>

using namespace kelvra::testing::tunnel;
using brano::core::v6::result::stack;
namespace tunnel = kelvra::tunnel;

namespace {

// Hands out the bytes given to it, recording how much each read asked for.
class recording_source final : public tunnel::byte_source {
public:
    void add(QByteArray const& bytes) { data_ += bytes; }
    std::int64_t available() const override { return data_.size() - position_; }
    std::int64_t read(char* into, std::int64_t max) override {
        if (fail_) {
            return -1;
        }
        auto const n = std::min<std::int64_t>(max, available());
        std::copy_n(data_.constData() + position_, n, into);
        reads.append({position_, max});
        position_ += static_cast<int>(n);
        return n;
    }
    void fail() { fail_ = true; }

    struct read_call {
        std::int64_t position;
        std::int64_t max;
    };
    QVector<read_call> reads;

private:
    QByteArray data_;
    int position_ = 0;
    bool fail_ = false;
};

class collecting_sink final : public tunnel::reply_sink {
public:
    void reply(QByteArray frame) override { frames.append(std::move(frame)); }
    QList<QByteArray> frames;
};

QString registered(kelvra::connection const& c) {
    return kelvra::manager::instance().register_connection(c);
}

// Feeds `stream` in the pieces that `cuts` (ascending positions) make.
QList<QByteArray> feed(QByteArray const& stream, QVector<int> const& cuts,
                       tunnel::client_state& state) {
    recording_source source;
    collecting_sink sink;
    int from = 0;
    auto positions = cuts;
    positions.append(stream.size());
    for (int const to : positions) {
        source.add(stream.mid(from, to - from));
        from = to;
        tunnel::read_requests(state, source, sink);
        if (source.available() != 0) {
            return {"reader left bytes behind"};
        }
    }
    return sink.frames;
}

std::string argument(stack const& r, std::string const& name) {
    std::string const* value = r.begin()->find_argument(name);
    return value != nullptr ? *value : std::string("<none>");
}

} // namespace

class tst_tunnel_messages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        id_ = registered(three_printer_connection());
        empty_id_ = registered(kelvra::connection{});
        QCOMPARE(id_.size(), 76);
    }

    // Framing ------------------------------------------------------------

    void stream_cut_anywhere_gives_the_same_replies() {
        QString const other = registered(numbered_printer_connection(2));
        QByteArray const stream = printer_list_request(id_) + printer_list_request(other) +
                                  printer_list_request(empty_id_);
        QList<QByteArray> const expected = {
            three_printer_reply(id_), numbered_printer_reply(other, 2),
            frame_of("{\"connection_id\":\"" + empty_id_.toLatin1() +
                     "\",\"kind\":\"PrinterListResponse\","
                     "\"printers\":[],\"version\":1}")};
        for (int a = 0; a <= stream.size(); ++a) {
            tunnel::client_state state;
            QCOMPARE(feed(stream, {a}, state), expected);
            QCOMPARE(state.phase, 0);
            QVERIFY(state.buffer.isEmpty());
        }
        // Every byte on its own, and every pair of cuts around the first boundary.
        QVector<int> every_byte;
        for (int i = 1; i < stream.size(); ++i) {
            every_byte.append(i);
        }
        tunnel::client_state state;
        QCOMPARE(feed(stream, every_byte, state), expected);
        int const first = printer_list_request(id_).size();
        for (int a = first - 6; a <= first + 6; ++a) {
            for (int b = a; b <= first + 8; ++b) {
                tunnel::client_state s;
                QCOMPARE(feed(stream, {a, b}, s), expected);
            }
        }
    }

    void reads_stay_within_the_current_part_and_the_cap() {
        // A body of 3 MiB and a bit, then a small request in the same stream.
        QByteArray const padding(3 * 1048576 + 17, 'p');
        QByteArray const big = frame_of(request_json(
            id_.toLatin1(), "PrinterListRequest", "\"version\":1,\"padding\":\"" + padding + "\""));
        QByteArray const stream = big + printer_list_request(id_);
        recording_source source;
        source.add(stream);
        collecting_sink sink;
        tunnel::client_state state;
        QCOMPARE(tunnel::read_requests(state, source, sink), tunnel::read_outcome::waiting);
        QCOMPARE(sink.frames,
                 QList<QByteArray>({three_printer_reply(id_), three_printer_reply(id_)}));

        QVector<std::int64_t> const boundaries = {0, 4, big.size(), big.size() + 4, stream.size()};
        for (auto const& call : source.reads) {
            QVERIFY2(call.max <= tunnel::max_read_size, "read above the cap");
            auto const end = std::upper_bound(boundaries.begin(), boundaries.end(), call.position);
            QVERIFY(end != boundaries.end());
            QVERIFY2(call.position + call.max <= *end, "read past the end of the current part");
        }
    }

    void declared_length_is_not_reserved() {
        // 100 MiB announced, 10 bytes sent: the reader holds those 10 bytes.
        tunnel::client_state state;
        QVERIFY(feed(be32(104857600) + QByteArray("{\"connecti"), {}, state).isEmpty());
        QCOMPARE(state.phase, 1);
        QCOMPARE(state.expected, std::int64_t(104857600));
        QCOMPARE(state.buffer.size(), 10);
        QVERIFY2(state.buffer.capacity() < 256,
                 qPrintable(QString::number(state.buffer.capacity())));
    }

    void size_field_boundaries_data() {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closing");
        // An empty body is answered at once instead of waiting for bytes
        // that can never complete it.
        QTest::newRow("zero") << 0u << error_reply("", 1, json_not_parsed) << true;
        QTest::newRow("maximum waits for its body") << 104857600u << QByteArray() << false;
        QTest::newRow("one above maximum")
            << 104857601u << error_reply("", 5, size_invalid) << true;
        QTest::newRow("largest field") << 0xffffffffu << error_reply("", 5, size_invalid) << true;
    }

    void size_field_boundaries() {
        QFETCH(quint32, length);
        QFETCH(QByteArray, reply);
        QFETCH(bool, closing);
        tunnel::client_state state;
        // A valid request follows; after an error reply it must go unanswered.
        QList<QByteArray> const frames = feed(be32(length) + printer_list_request(id_), {2}, state);
        QCOMPARE(frames, reply.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{reply});
        QCOMPARE(state.close_after_write, closing);
    }

    void bytes_after_an_error_reply_are_discarded() {
        tunnel::client_state state;
        QByteArray const stream = frame_of("[1,2]") + printer_list_request(id_);
        QCOMPARE(feed(stream, {3, 9}, state),
                 QList<QByteArray>{error_reply("", 2, json_not_object)});
        // Later input is read (nothing stays in the source) and answered with nothing.
        QCOMPARE(feed(printer_list_request(id_) + QByteArray(70000, 'z'), {}, state),
                 QList<QByteArray>());
        QVERIFY(state.buffer.isEmpty());
    }

    void read_error_queues_nothing() {
        recording_source source;
        source.add(printer_list_request(id_));
        source.fail();
        collecting_sink sink;
        tunnel::client_state state;
        QCOMPARE(tunnel::read_requests(state, source, sink), tunnel::read_outcome::read_failed);
        QVERIFY(sink.frames.isEmpty());
        QVERIFY(state.buffer.isEmpty());
    }

    // Envelope -----------------------------------------------------------

    void envelope_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code"); // json_category code, 0 when the envelope is sound
        QTest::addColumn<QByteArray>("elemento");
        QTest::addColumn<QString>("connection_id");
        QTest::addColumn<QString>("kind");

        QTest::newRow("empty") << QByteArray() << 1 << QByteArray() << QString() << QString();
        QTest::newRow("not json") << QByteArray("{\"kind\":") << 1 << QByteArray() << QString()
                                  << QString();
        QTest::newRow("trailing garbage")
            << QByteArray("{} {}") << 1 << QByteArray() << QString() << QString();
        QTest::newRow("invalid utf-8")
            << QByteArray("{\"kind\":\"\xff\xfe\"}") << 1 << QByteArray() << QString() << QString();
        QTest::newRow("deep nesting")
            << QByteArray(100000, '[') << 1 << QByteArray() << QString() << QString();
        QTest::newRow("array") << QByteArray("[{\"connection_id\":\"a\",\"kind\":\"b\"}]") << 2
                               << QByteArray() << QString() << QString();
        // A bare value is not a JSON document for the parser at all.
        QTest::newRow("bare string")
            << QByteArray("\"x\"") << 1 << QByteArray() << QString() << QString();
        QTest::newRow("no connection_id") << QByteArray("{\"kind\":\"PrinterListRequest\"}") << 3
                                          << QByteArray("connection_id") << QString() << QString();
        QTest::newRow("no kind") << QByteArray("{\"connection_id\":\"abc\",\"version\":1}") << 3
                                 << QByteArray("kind") << QStringLiteral("abc") << QString();
        QTest::newRow("id not a string") << QByteArray("{\"connection_id\":7,\"kind\":\"K\"}") << 0
                                         << QByteArray() << QString() << QStringLiteral("K");
        QTest::newRow("kind not a string") << QByteArray("{\"connection_id\":\"c\",\"kind\":[]}")
                                           << 0 << QByteArray() << QStringLiteral("c") << QString();
        QTest::newRow("sound") << QByteArray(" {\"kind\":\"K\",\"connection_id\":\"c\",\"x\":{}} ")
                               << 0 << QByteArray() << QStringLiteral("c") << QStringLiteral("K");
    }

    void envelope() {
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        QFETCH(QByteArray, elemento);
        QFETCH(QString, connection_id);
        QFETCH(QString, kind);
        tunnel::request parsed;
        stack r;
        tunnel::parse_request(body, parsed, r);
        QCOMPARE(parsed.connection_id, connection_id);
        if (code == 0) {
            QVERIFY(!r.has_failed());
            QCOMPARE(parsed.kind, kind);
            return;
        }
        QCOMPARE(r.size(), std::size_t(1));
        QCOMPARE(&r.begin()->get_category(), static_cast<brano::core::v6::result::category const*>(
                                                 &tunnel::status::json_category::instance()));
        QCOMPARE(r.get_value(), code);
        QCOMPARE(argument(r, "elemento"),
                 elemento.isEmpty() ? std::string("<none>") : elemento.toStdString());
    }

    void repeated_names_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("repeated");
        QTest::newRow("distinct") << QByteArray("{\"a\":1,\"b\":{\"a\":2},\"c\":[{\"a\":3}]}")
                                  << false;
        QTest::newRow("top level") << QByteArray("{\"a\":1,\"a\":2}") << true;
        QTest::newRow("in a nested object")
            << QByteArray("{\"a\":{\"x\":[1],\"y\":0,\"x\":2}}") << true;
        QTest::newRow("in an array") << QByteArray("[1,{\"x\":[1],\"x\":[2]}]") << true;
        QTest::newRow("same name, sibling objects") << QByteArray("[{\"x\":1},{\"x\":1}]") << false;
        QTest::newRow("values equal to names")
            << QByteArray("{\"a\":\"a\",\"b\":\"a\",\"c\":[\"b\"]}") << false;
        QTest::newRow("escaped and plain") << QByteArray("{\"\\u0078\":[1],\"x\":2}") << true;
        QTest::newRow("escaped and raw utf-8")
            << QByteArray("{\"\xc3\xa7\":1,\"\\u00e7\":2}") << true;
        QTest::newRow("surrogate pair and raw utf-8")
            << QByteArray("{\"\xf0\x9f\x98\x80\":1,\"\\ud83d\\ude00\":2}") << true;
        QTest::newRow("escaped quote in a name")
            << QByteArray("{\"a\\\"b\":1,\"a\\\"b\":2}") << true;
        QTest::newRow("escaped backslash before the quote")
            << QByteArray("{\"a\\\\\":1,\"a\\\\\":2,\"b\":\"\\\\\"}") << true;
        QTest::newRow("different escapes")
            << QByteArray("{\"\\n\":1,\"\\t\":2,\"\\/\":3,\"/\":4}") << true;
        QTest::newRow("brackets inside strings")
            << QByteArray("{\"a\":\"{\\\"a\\\":1,\\\"a\\\":2}\",\"b\":\"]}\"}") << false;
        QTest::newRow("before a syntax error")
            << QByteArray("[{\"x\":[1],\"x\":2}, nonsense") << true;
        QTest::newRow("unterminated") << QByteArray("{\"a\":1,\"b") << false;
        QTest::newRow("beyond the parser's depth")
            << QByteArray(1025, '[') + QByteArray("{\"a\":1,\"a\":2}") << false;
    }

    void repeated_names() {
        QFETCH(QByteArray, json);
        QFETCH(bool, repeated);
        QCOMPARE(kelvra::has_duplicate_names(json), repeated);
    }

    // The parser leaks the replaced value of a repeated name; under the
    // leak checker this test fails if such a body ever reaches it.
    void repeated_names_are_refused_unparsed() {
        QByteArray const body =
            request_json(id_.toLatin1(), "PrinterListRequest",
                         "\"version\":1,\"x\":[[{\"y\":null}]],\"x\":{\"z\":[1]}");
        tunnel::processed_message const out = tunnel::process_message(body);
        QCOMPARE(out.frame, error_reply("", 1, json_not_parsed));
        QVERIFY(out.is_error);
    }

    // Handlers -----------------------------------------------------------

    void handlers_data() {
        QTest::addColumn<QByteArray>("members"); // "version" and others, as JSON
        QTest::addColumn<bool>("known_id");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("category");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("argument_name");
        QTest::addColumn<QByteArray>("argument_value");

        QString const json = QStringLiteral("kelvra-tunnel-json");
        QString const geral = QStringLiteral("kelvra-tunnel-geral");
        QString const list = QStringLiteral("PrinterListRequest");
        QTest::newRow("version 1") << QByteArray("\"version\":1") << true << list << QString() << 0
                                   << QByteArray() << QByteArray();
        QTest::newRow("version 1.0") << QByteArray("\"version\":1.0") << true << list << QString()
                                     << 0 << QByteArray() << QByteArray();
        QTest::newRow("version missing") << QByteArray() << true << list << json << 3
                                         << QByteArray("elemento") << QByteArray("version");
        QTest::newRow("version text") << QByteArray("\"version\":\"1\"") << true << list << json
                                      << 6 << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version 0") << QByteArray("\"version\":0") << true << list << json << 6
                                   << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version fraction") << QByteArray("\"version\":1.5") << true << list << json
                                          << 6 << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version true") << QByteArray("\"version\":true") << true << list << json << 6
                                      << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version null") << QByteArray("\"version\":null") << true << list << json << 6
                                      << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version beyond int")
            << QByteArray("\"version\":4294967297") << true << list << json << 6
            << QByteArray("campo") << QByteArray("version");
        QTest::newRow("version 2") << QByteArray("\"version\":2") << true << list << json << 5
                                   << QByteArray("version") << QByteArray("2");
        QTest::newRow("version -12") << QByteArray("\"version\":-12") << true << list << json << 5
                                     << QByteArray("version") << QByteArray("-12");
        QTest::newRow("unknown id, no version")
            << QByteArray() << false << list << QStringLiteral("kelvra-manager") << 1
            << QByteArray("id") << QByteArray("unknown-id");
        QTest::newRow("unknown id, version 1")
            << QByteArray("\"version\":1") << false << list << QStringLiteral("kelvra-manager") << 1
            << QByteArray("id") << QByteArray("unknown-id");
        for (QByteArray const& k : unavailable_kinds()) {
            QTest::addRow("%s", k.constData())
                << QByteArray("\"version\":1") << true << QString::fromLatin1(k) << geral << 7
                << QByteArray("kind") << k;
        }
        QTest::newRow("letter case")
            << QByteArray("\"version\":1") << true << QStringLiteral("printRequest") << json << 4
            << QByteArray("kind") << QByteArray("printRequest");
        QTest::newRow("list, lower case")
            << QByteArray("\"version\":1") << true << QStringLiteral("printerlistrequest") << json
            << 4 << QByteArray("kind") << QByteArray("printerlistrequest");
        QTest::newRow("empty kind") << QByteArray("\"version\":1") << true << QString() << json << 4
                                    << QByteArray("kind") << QByteArray();
        QTest::newRow("unicode kind") << QByteArray() << true << QStringLiteral("Impressão") << json
                                      << 4 << QByteArray("kind") << QByteArray("Impress\xc3\xa3o");
    }

    void handlers() {
        QFETCH(QByteArray, members);
        QFETCH(bool, known_id);
        QFETCH(QString, kind);
        QFETCH(QString, category);
        QFETCH(int, code);
        QFETCH(QByteArray, argument_name);
        QFETCH(QByteArray, argument_value);

        QString const id = known_id ? id_ : QStringLiteral("unknown-id");
        QJsonObject const object = QJsonDocument::fromJson("{" + members + "}").object();
        stack r;
        QByteArray const reply = tunnel::handle_request(object, id, kind, r);
        if (category.isEmpty()) {
            QVERIFY(!r.has_failed());
            QCOMPARE(tunnel::frame(reply), three_printer_reply(id_));
            return;
        }
        QVERIFY(reply.isEmpty());
        QCOMPARE(r.size(), std::size_t(1));
        QCOMPARE(QString::fromLatin1(r.begin()->get_category().name()), category);
        QCOMPARE(r.get_value(), code);
        QCOMPARE(argument(r, argument_name.toStdString()), argument_value.toStdString());
    }

    void session_without_printers_gives_an_empty_array() {
        stack r;
        QByteArray const reply =
            tunnel::handle_request(QJsonDocument::fromJson("{\"version\":1}").object(), empty_id_,
                                   QStringLiteral("PrinterListRequest"), r);
        QVERIFY(!r.has_failed());
        QCOMPARE(reply, "{\"connection_id\":\"" + empty_id_.toLatin1() +
                            "\",\"kind\":\"PrinterListResponse\",\"printers\":[],\"version\":1}");
    }

    // Reply text -------------------------------------------------------

    void json_text_matches_qt_data() {
        QTest::addColumn<QString>("text");
        auto units = [](std::initializer_list<char16_t> list) {
            QString s;
            for (char16_t u : list) {
                s.append(QChar(u));
            }
            return s;
        };
        QString controls;
        for (char16_t u = 0; u < 0x20; ++u) {
            controls.append(QChar(u));
        }
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("Financeiro HP-01 / {x}");
        QTest::newRow("quote and backslash") << QStringLiteral("a\"b\\c\\\"");
        QTest::newRow("control characters") << controls;
        QTest::newRow("delete") << units({u'a', 0x7f, u'b'});
        QTest::newRow("latin and bmp") << QStringLiteral("Impressão € 漢字");
        QTest::newRow("pair") << units({u'x', 0xd83d, 0xde00, u'y'});
        QTest::newRow("high at the end") << units({u'a', 0xd83d});
        QTest::newRow("high before ascii") << units({0xd83d, u'a'});
        QTest::newRow("low alone") << units({0xde00, u'a'});
        QTest::newRow("high high low") << units({0xd83d, 0xd83d, 0xde00});
        QTest::newRow("noncharacters") << units({0xfffe, 0xffff, 0xfdd0});
    }

    // The replies used to be written through QJsonDocument; the direct
    // writer must give the same bytes.
    void json_text_matches_qt() {
        QFETCH(QString, text);
        QByteArray mine = "[";
        tunnel::json_text::append_string(mine, text);
        mine += ",";
        tunnel::json_text::append_number(mine, -2147483648LL);
        mine += ",";
        tunnel::json_text::append_number(mine, 2147483647);
        mine += "]";
        QJsonArray const array{text, -2147483647 - 1, 2147483647};
        QCOMPARE(mine, QJsonDocument(array).toJson(QJsonDocument::Compact));
    }

    // One body, one reply --------------------------------------------------

    void process_message_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("is_error");

        QByteArray const id = "7b" + QByteArray(72, 'a') + "7d"; // well-formed, never registered
        QTest::newRow("unknown connection") << request_json(id, "PrinterListRequest")
                                            << error_reply(id, 1, connection_unknown) << true;
        QTest::newRow("no kind carries the id") << QByteArray("{\"connection_id\":\"" + id + "\"}")
                                                << error_reply(id, 3, element_missing) << true;
        QTest::newRow("no connection_id has an empty id")
            << QByteArray("{\"kind\":\"OpenUrlRequest\"}") << error_reply("", 3, element_missing)
            << true;
        QTest::newRow("array has an empty id")
            << QByteArray("[]") << error_reply("", 2, json_not_object) << true;
        QTest::newRow("id with characters to escape")
            << QByteArray("{\"connection_id\":\"a\\\"b\\\\c\\u0001\",\"kind\":\"x\"}")
            << error_reply("a\\\"b\\\\c\\u0001", 4, kind_invalid) << true;
        QTest::newRow("OpenUrlRequest")
            << request_json(id, "OpenUrlRequest") << error_reply(id, 7, not_on_linux) << true;
    }

    void process_message() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, reply);
        QFETCH(bool, is_error);
        tunnel::processed_message const out = tunnel::process_message(body);
        QCOMPARE(out.frame, reply);
        QCOMPARE(out.is_error, is_error);
    }

private:
    QString id_;
    QString empty_id_;
};

QTEST_GUILESS_MAIN(tst_tunnel_messages)
#include "tst_tunnel_messages.moc"
