#include "commandline/arguments.hpp"
#include "commandline/status.hpp"

#include <QTest>

#include <vector>

namespace core = brano::core::v6;
using kelvra::commandline::arguments;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// argv as the shell hands it over, program name first.
struct argv_builder {
    explicit argv_builder(QStringList const& args) {
        storage.push_back("kelvra");
        for (auto const& a : args) {
            storage.push_back(a.toStdString());
        }
        for (auto& s : storage) {
            pointers.push_back(s.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    char** argv() { return pointers.data(); }

    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

} // namespace

class tst_commandline : public QObject {
    Q_OBJECT

private slots:
    void accepted_command_lines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("requested");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("auto_open");

        QString const null;
        QTest::newRow("nothing") << QStringList{} << false << null << false;
        QTest::newRow("value apart")
            << QStringList{"--load", "Vendas"} << true << "Vendas" << false;
        QTest::newRow("single dash") << QStringList{"-load", "Vendas"} << true << "Vendas" << false;
        QTest::newRow("synonym") << QStringList{"--open-connection", "X"} << true << "X" << false;
        QTest::newRow("load wins over synonym")
            << QStringList{"--open-connection", "B", "--load", "A"} << true << "A" << false;
        QTest::newRow("first load wins")
            << QStringList{"--load", "A", "--load", "B"} << true << "A" << false;
        QTest::newRow("no value") << QStringList{"--load"} << true << "" << false;
        QTest::newRow("value with =") << QStringList{"--load=a=b"} << true << "a=b" << false;
        QTest::newRow("dash name after =") << QStringList{"--load=-x"} << true << "-x" << false;
        QTest::newRow("empty after =") << QStringList{"--load="} << true << "" << false;
        QTest::newRow("= in separate argument")
            << QStringList{"--load", "=x"} << true << "x" << false;
        QTest::newRow("negative number is a value")
            << QStringList{"--load", "-5"} << true << "-5" << false;
        QTest::newRow("auto twice")
            << QStringList{"--auto-open-connection", "--auto-open-connection"} << false << null
            << true;
        QTest::newRow("empty arguments skipped")
            << QStringList{"", "--load", "", "Vendas", ""} << true << "Vendas" << false;
        QTest::newRow("both options")
            << QStringList{"--auto-open-connection", "--load", "A"} << true << "A" << true;
    }

    void accepted_command_lines() {
        QFETCH(QStringList, args);
        QFETCH(bool, requested);
        QFETCH(QString, name);
        QFETCH(bool, auto_open);

        argv_builder argv(args);
        arguments parsed;
        core::result::stack status;
        parsed.parse(argv.argc(), argv.argv(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(parsed.session_requested(), requested);
        QCOMPARE(parsed.session_name(), name);
        QCOMPARE(parsed.session_name().isNull(), name.isNull());
        QCOMPARE(parsed.has_option(parsed.auto_open_connection), auto_open);
    }

    void rejected_command_lines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("value");

        QTest::newRow("second value") << QStringList{"--load", "A", "B"} << 4 << "option-value"
                                      << "B";
        QTest::newRow("a=b apart") << QStringList{"--load", "a=b"} << 4 << "option-value"
                                   << "b";
        QTest::newRow("bare value") << QStringList{"Vendas"} << 4 << "option-value"
                                    << "Vendas";
        QTest::newRow("unknown") << QStringList{"--foo"} << 3 << "option-name"
                                 << "foo";
        QTest::newRow("lone double dash") << QStringList{"--"} << 3 << "option-name"
                                          << "";
        QTest::newRow("dash word after load") << QStringList{"--load", "-x"} << 3 << "option-name"
                                              << "x";
        QTest::newRow("negative fraction is an option")
            << QStringList{"--load", "-5.5"} << 3 << "option-name"
            << "5.5";
    }

    void rejected_command_lines() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, argument);
        QFETCH(QString, value);

        argv_builder argv(args);
        arguments parsed;
        core::result::stack status;
        parsed.parse(argv.argc(), argv.argv(), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.size(), std::size_t(1));
        auto const& item = *status.begin();
        QCOMPARE(QByteArray(item.get_category().name()), QByteArray("kelvra-commandline-parser"));
        QCOMPARE(item.get_code(), code);
        QCOMPARE(item.get_argument_range().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(item.get_argument_range().begin()->get_name()), argument);
        QCOMPARE(QString::fromStdString(item.get_argument_range().begin()->get_value()), value);
    }

    void failed_stack_is_kept_and_nothing_parsed() {
        argv_builder argv({QStringLiteral("--load"), QStringLiteral("A")});
        arguments parsed;
        core::result::stack status;
        status.push_item(kelvra::commandline::status::parser_category::instance(), 2);
        parsed.parse(argv.argc(), argv.argv(), status);
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(status.get_value(), 2);
        QVERIFY(!parsed.session_requested());
    }

    void long_command_line_is_freed_without_recursion() {
        QStringList args;
        for (int i = 0; i < 200000; ++i) {
            args << QStringLiteral("--auto-open-connection");
        }
        argv_builder argv(args);
        arguments parsed;
        core::result::stack status;
        parsed.parse(argv.argc(), argv.argv(), status);
        QVERIFY(!status.has_failed());
        QVERIFY(parsed.has_option(parsed.auto_open_connection));
    }
};

QTEST_GUILESS_MAIN(tst_commandline)
#include "tst_commandline.moc"
