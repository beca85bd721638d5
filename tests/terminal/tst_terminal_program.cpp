// The terminal program's command line, profile and session key text, part by part.
#include "arguments.hpp"
#include "credential.hpp"
#include "profile.hpp"
#include "terminal_status.hpp"

#include "crypto/session_key.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QTemporaryDir>
#include <QTest>

namespace core = brano::core::v6;
namespace terminal = kelvra::terminal;
using kelvra::testing::read_file;
using kelvra::testing::write_file;
using terminal::status::terminal_category;
using words = std::vector<std::string>;

Q_DECLARE_METATYPE(words)

namespace {

char const installation_key[] = "SERIAL-A|SERIAL-B";
std::string const forward = "kelvra:127.0.0.1:59565";

} // namespace

class tst_terminal_program : public QObject {
    Q_OBJECT

private slots:
    // Only the launcher's own line is taken; `position` is what a refusal names (empty: taken).
    void command_lines_data() {
        QTest::addColumn<words>("args");
        QTest::addColumn<QString>("position");
        auto row = [](char const* tag, words const& args, char const* position) {
            QTest::newRow(tag) << args << position;
        };
        row("password", {"-load", "Vendas", "-pw", "T", "-R", forward}, "");
        row("key, maximized", {"-load", "Produção 1", "-i", "T", "-maximized", "-R", forward}, "");
        row("nothing", {}, "1");
        row("unknown option first", {"-ssh", "x"}, "1");
        row("empty name", {"-load", "", "-pw", "T", "-R", forward}, "2");
        row("no credential text", {"-load", "V", "-pw"}, "4");
        row("maximized first", {"-load", "V", "-maximized", "-pw", "T", "-R", forward}, "3");
        row("no forward", {"-load", "V", "-pw", "T"}, "5");
        row("forward of another name", {"-load", "V", "-pw", "T", "-R", "x:127.0.0.1:59565"}, "6");
        row("forward port 0", {"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:0"}, "6");
        row("port too large", {"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:65536"}, "6");
        row("forward without host", {"-load", "V", "-pw", "T", "-R", "kelvra::59565"}, "6");
        row("trailing argument", {"-load", "V", "-pw", "T", "-R", forward, "-v"}, "7");
    }

    void command_lines() {
        QFETCH(words, args);
        QFETCH(QString, position);
        core::result::stack status;
        auto const parsed = terminal::parse_arguments(args, status);
        if (position.isEmpty()) {
            QVERIFY(!status.has_failed());
            QCOMPARE(parsed.session_name, args[1]);
            QCOMPARE(parsed.kind == terminal::credential_kind::password, args[2] == "-pw");
            QCOMPARE(parsed.credential, std::string("T"));
            QCOMPARE(parsed.maximized, args[4] == "-maximized");
            QCOMPARE(parsed.forward_host, std::string("127.0.0.1"));
            QCOMPARE(parsed.forward_port, std::uint16_t{59565});
            return;
        }
        QVERIFY(status.has_failed());
        auto const& item = *status.begin();
        QCOMPARE(item.get_code(), int(terminal_category::invalid_arguments));
        QCOMPARE(QString::fromStdString(*item.find_argument("position")), position);
        for (auto const& argument : item.get_argument_range()) {
            QVERIFY(argument.get_value() != "T"); // the credential never shows in a report
        }
    }

    // The launcher's own profile is read (code 0); the others are refused.
    void profiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QByteArray const env = "Environment=KELVRA_CONNECTION_ID=7b2d7d,KELVRA_VERSION=1.3.3\n";
        int const missing = int(terminal_category::profile_field_missing);
        int const invalid = int(terminal_category::profile_field_invalid);
        QTest::newRow("as the launcher writes it")
            << read_file(kelvra::testing::data_file(QStringLiteral("putty_profile.ini")))
                   .replace("@ID@", QByteArray(76, 'a'))
            << 0;
        QTest::newRow("no host") << "[General]\nPortNumber=22\n" + env << missing;
        QTest::newRow("host that reads as an option")
            << "[General]\nHostName=-oProxyCommand=x\n" + env << invalid;
        QTest::newRow("port out of range")
            << "[General]\nHostName=h\nPortNumber=70000\n" + env << invalid;
        QTest::newRow("telnet") << "[General]\nHostName=h\nProtocol=telnet\n" + env
                                << int(terminal_category::unsupported_protocol);
        QTest::newRow("no connection id")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_VERSION=1.3.3\n") << missing;
        QTest::newRow("connection id that leaves the folder")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=../../etc/x\n")
            << invalid;
        QTest::newRow("variable name with a wildcard")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=7b,KELVRA_*=1\n")
            << invalid;
    }

    void profiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QTemporaryDir dir;
        QVERIFY(write_file(dir.filePath(QStringLiteral("p")), content));
        core::result::stack status;
        auto const p = terminal::read_profile(dir.filePath(QStringLiteral("p")), status);
        QCOMPARE(status.has_failed() ? status.begin()->get_code() : 0, code);
        if (code == 0) {
            QCOMPARE(QStringList({QString::number(p.port), p.user, p.title, p.connection_id(),
                                  QString::number(p.environment.size()), p.environment[1].first,
                                  p.environment[1].second}),
                     QStringList({"2222", "operador", "Produção 1", QString(76, 'a'), "2",
                                  "KELVRA_VERSION", "1.3.3"}));
        }
    }

    // Taken two minutes either way of its stamp, on its own installation only; `refusal` is
    // the report's category and, for the terminal's own, its code.
    void credentials_data() {
        QTest::addColumn<long long>("offset_ms");
        QTest::addColumn<QByteArray>("device_key");
        QTest::addColumn<QByteArray>("refusal");
        QByteArray const own(installation_key);
        QTest::newRow("two minutes old") << -120000LL << own << QByteArray();
        QTest::newRow("two minutes and a millisecond old")
            << -120001LL << own << QByteArray("kelvra-terminal 6");
        QTest::newRow("two minutes ahead") << 120000LL << own << QByteArray();
        QTest::newRow("further ahead") << 120001LL << own << QByteArray("kelvra-terminal 6");
        QTest::newRow("another installation")
            << 0LL << QByteArray("OTHER") << QByteArray("kelvra-openssl-errors");
    }

    void credentials() {
        QFETCH(long long, offset_ms);
        QFETCH(QByteArray, device_key);
        QFETCH(QByteArray, refusal);
        long long const now = 1700000000000LL;
        kelvra::crypto::session_key key;
        key.timestamp = core::datetime::from_msecs_since_epoch(now + offset_ms);
        key.device_key = core::byte_array(installation_key);
        key.secret = core::byte_array("segredo");
        key.command = "mirtel --menu";
        key.path = "/srv/mirtel";
        core::result::stack status;
        auto const opened =
            terminal::open_credential(kelvra::crypto::encrypt_session_key(key, status),
                                      core::byte_array(device_key.toStdString()), now, status);
        QByteArray report = status.has_failed() ? status.begin()->get_category().name() : "";
        if (report == "kelvra-terminal") {
            report += ' ' + QByteArray::number(status.begin()->get_code());
        }
        QCOMPARE(report, refusal);
        QCOMPARE(opened.secret + '|' + opened.command + '|' + opened.path,
                 std::string(refusal.isEmpty() ? "segredo|mirtel --menu|/srv/mirtel" : "||"));
    }
};

QTEST_GUILESS_MAIN(tst_terminal_program)
#include "tst_terminal_program.moc"
