#include "commandline/arguments.hpp"
#include "commandline/status.hpp"

#include <QTest>

#include <vector>

namespace core = brano::core::v6;
using kelvra::commandline::arguments;

namespace {

// Parses `args` as the shell hands them over, after the program name.
void parse(arguments& parsed, QStringList const& args, core::result::stack& status) {
    std::vector<std::string> storage{"kelvra"};
    for (auto const& a : args) {
        storage.push_back(a.toStdString());
    }
    std::vector<char*> argv;
    for (auto& s : storage) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    parsed.parse(int(storage.size()), argv.data(), status);
}

} // namespace

class tst_commandline : public QObject {
    Q_OBJECT

private slots:
    // What a command line gives: "load NAME" and "auto", or its failure
    // "CODE ARGUMENT=VALUE".
    void command_lines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        auto row = [](char const* tag, QStringList const& args, char const* expected) {
            QTest::newRow(tag) << args << QString::fromUtf8(expected);
        };
        row("nothing", {}, "");
        row("value apart", {"--load", "Vendas"}, "load Vendas");
        row("single dash", {"-load", "Vendas"}, "load Vendas");
        row("load wins over synonym", {"--open-connection", "B", "--load", "A"}, "load A");
        row("first load wins", {"--load", "A", "--load", "B"}, "load A");
        row("no value", {"--load"}, "load ");
        row("empty after =", {"--load="}, "load ");
        row("= in separate argument", {"--load", "=x"}, "load x");
        row("negative number is a value", {"--load", "-5"}, "load -5");
        row("empty arguments skipped", {"", "--load", "", "Vendas", ""}, "load Vendas");
        row("both options", {"--auto-open-connection", "--load", "A"}, "load A auto");
        row("second value", {"--load", "A", "B"}, "4 option-value=B");
        row("a=b apart", {"--load", "a=b"}, "4 option-value=b");
        row("bare value", {"Vendas"}, "4 option-value=Vendas");
        row("unknown", {"--foo"}, "3 option-name=foo");
        row("lone double dash", {"--"}, "3 option-name=");
        row("dash word after load", {"--load", "-x"}, "3 option-name=x");
        row("negative fraction is an option", {"--load", "-5.5"}, "3 option-name=5.5");
    }

    void command_lines() {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        arguments parsed;
        core::result::stack status;
        parse(parsed, args, status);
        QStringList got;
        for (auto const& item : status) {
            QCOMPARE(QByteArray(item.get_category().name()), "kelvra-commandline-parser");
            got << QString::number(item.get_code());
            for (auto const& argument : item.get_argument_range()) {
                got << QString::fromStdString(argument.get_name() + '=' + argument.get_value());
            }
        }
        QCOMPARE(parsed.session_name().isNull(), !parsed.session_requested());
        if (!status.has_failed() && parsed.session_requested()) {
            got << "load " + parsed.session_name();
        }
        if (!status.has_failed() && parsed.has_option(parsed.auto_open_connection)) {
            got << "auto";
        }
        QCOMPARE(got.join(' '), expected);
    }

    void failed_stack_is_kept_and_nothing_parsed() {
        arguments parsed;
        core::result::stack status;
        status.push_item(kelvra::commandline::status::parser_category::instance(), 2);
        parse(parsed, {QStringLiteral("--load"), QStringLiteral("A")}, status);
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(status.get_value(), 2);
        QVERIFY(!parsed.session_requested());
    }

    // The parsed tokens of a long command line are freed without recursing.
    void long_command_line_is_freed_without_recursion() {
        arguments parsed;
        core::result::stack status;
        parse(parsed, QVector<QString>(200000, QStringLiteral("--auto-open-connection")).toList(),
              status);
        QVERIFY(!status.has_failed());
        QVERIFY(parsed.has_option(parsed.auto_open_connection));
    }
};

QTEST_GUILESS_MAIN(tst_commandline)
#include "tst_commandline.moc"
