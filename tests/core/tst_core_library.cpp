#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/datetime.hpp>
#include <brano/core/v6/encoding.hpp>
#include <brano/core/v6/text_formatter.hpp>

#include "core/status.hpp"

#include <QTest>

#include <cctype>

namespace core = brano::core::v6;

class tst_core_library : public QObject {
    Q_OBJECT

private slots:
    // Encoded text stays plain ASCII (safe in JSON and on a command line)
    // and decodes to the same bytes.
    void base64_round_trip() {
        QByteArray all;
        for (int i = 0; i < 256; ++i) {
            all.append(static_cast<char>(i));
        }
        for (QByteArray const& bytes : {QByteArray(), QByteArray("\xff", 1), all}) {
            core::byte_array const in(reinterpret_cast<std::uint8_t const*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size()));
            std::string const text =
                core::binary_encoder::encode(core::binary_encoding::base64, in);
            for (char c : text) {
                QVERIFY(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' ||
                        c == '=');
            }
            QVERIFY(core::binary_decoder::decode(core::binary_encoding::base64, text) == in);
        }
    }

    void base64_rejects_malformed_text_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("invalid character") << "AB*D";
        QTest::newRow("space inside") << "AB CD";
        QTest::newRow("truncated quartet") << "QUJD=";
        QTest::newRow("data after padding") << "QQ==QQ==";
    }

    void base64_rejects_malformed_text() {
        QFETCH(QString, text);
        QVERIFY(core::binary_decoder::decode(core::binary_encoding::base64, text.toStdString())
                    .empty());
    }

    // The first item speaks for the stack; a repeated argument replaces the old one.
    void stack_reports_first_item_and_replaces_arguments() {
        core::result::stack stack;
        auto& item = stack.push_item(kelvra::status::manager_category::instance(), 1);
        item.set_argument("id", "a").set_argument("other", "b").set_argument("id", "c");
        stack.push_item(kelvra::status::persist_session_category::instance(), 2);
        QVERIFY(stack.has_failed() && stack.size() == 2 && stack.get_value() == 1);
        QCOMPARE(stack.get_message(), std::string("O id da conexão não existe"));
        auto const& arguments = stack.begin()->get_argument_range();
        QCOMPARE(arguments.size(), std::size_t(2));
        QCOMPARE(arguments.begin()->get_name() + arguments.begin()->get_value(),
                 std::string("idc"));
        stack.reset();
        QVERIFY(!stack.has_failed() && stack.get_value() == 0 && stack.get_message().empty());
    }

    void formatter_substitutes_placeholders_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        QTest::newRow("index") << "openssl-file#{0}"
                               << "openssl-file#7";
        QTest::newRow("two") << "{1}-{0}-{1}"
                             << "x-7-x";
        QTest::newRow("missing value stays") << "a{2}b"
                                             << "a{2}b";
        QTest::newRow("unclosed brace") << "a{0"
                                        << "a{0";
        QTest::newRow("huge index") << "{99999999999999999999}"
                                    << "{99999999999999999999}";
    }

    void formatter_substitutes_placeholders() {
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(
                     core::text_formatter::format(pattern.toStdString(), 7, std::string("x"))),
                 expected);
    }

    void datetime_keeps_milliseconds_and_dates() {
        QCOMPARE(core::datetime().to_msecs_since_epoch(), 0LL);
        auto const t = core::datetime::from_msecs_since_epoch(1700000000123LL);
        QCOMPARE(t.to_msecs_since_epoch(), 1700000000123LL);
        qputenv("TZ", "UTC");
        auto const d = core::datetime::from_msecs_since_epoch(951782400000LL).get_date();
        QCOMPARE(d.get_year(), 2000);
        QCOMPARE(d.get_month(), 2);
        QCOMPARE(d.get_day(), 29);
    }
};

QTEST_GUILESS_MAIN(tst_core_library)
#include "tst_core_library.moc"
