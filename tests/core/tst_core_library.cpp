// The maker's core library where the program relies on more than Qt gives.
#include <brano/core/v6/datetime.hpp>
#include <brano/core/v6/encoding.hpp>
#include <brano/core/v6/text_formatter.hpp>

#include "core/status.hpp"

#include <QTest>

namespace core = brano::core::v6;

class tst_core_library : public QObject {
    Q_OBJECT

private slots:
    // Malformed text decodes to nothing, never to what is left of it. (Well-formed
    // text and encoding are checked byte for byte by the session key vectors.)
    void base64_rejects_malformed_text() {
        for (char const* text : {"AB*D", "AB CD", "QUJD=", "QQ==QQ=="}) {
            QVERIFY2(core::binary_decoder::decode(core::binary_encoding::base64, text).empty(),
                     text);
        }
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

    // Pattern, then what it gives for the values 7 and "x".
    void formatter_substitutes_placeholders() {
        for (auto const& [pattern, expected] :
             std::initializer_list<std::pair<char const*, char const*>>{
                 {"openssl-file#{0}", "openssl-file#7"},
                 {"{1}-{0}-{1}", "x-7-x"},
                 {"a{2}b", "a{2}b"},
                 {"a{0", "a{0"},
                 {"{99999999999999999999}", "{99999999999999999999}"}}) {
            QCOMPARE(core::text_formatter::format(pattern, 7, std::string("x")),
                     std::string(expected));
        }
    }

    // The settings password is made from this date: an instant's local day
    // (a leap day, in UTC), with the milliseconds kept.
    void datetime_gives_the_local_date() {
        qputenv("TZ", "UTC");
        auto const t = core::datetime::from_msecs_since_epoch(951782400123LL);
        QCOMPARE(t.to_msecs_since_epoch(), 951782400123LL);
        QVERIFY(t.get_date() == core::date(2000, 2, 29));
    }
};

QTEST_GUILESS_MAIN(tst_core_library)
#include "tst_core_library.moc"
