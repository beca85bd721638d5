// The support password: the derivation against known answers, and the
// support desk's tool as the desk runs it.
#include "core/derive_support_password.hpp"
#include "core/support_code.hpp"
#include "support/processes.hpp"

#include <QTest>

namespace code = kelvra::support_code;

class tst_support_code : public QObject {
    Q_OBJECT

private slots:
    // Expected passwords were computed once, by hand and with a separate
    // python3 script written from the arithmetic alone (not from this code).
    // An empty password means the code is refused.
    void known_answers_data() {
        QTest::addColumn<QByteArray>("temporary");
        QTest::addColumn<qint64>("client");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("digits") << QByteArray("7u05k2jhn9ym") << 1001LL << QByteArray("3975159341");
        QTest::newRow("low 32 bits only")
            << QByteArray("7u05k2jhn9ym") << 4294968297LL << QByteArray("3975159341");
        QTest::newRow("negative client")
            << QByteArray("0123456789a1") << -1LL << QByteArray("2593182095");
        QTest::newRow("no digits: check is the first character")
            << QByteArray("kvujhnuiywfk") << 987654LL << QByteArray("8350854801");
        QTest::newRow("all digits")
            << QByteArray("99999999999q") << 123LL << QByteArray("9459469211");
        QTest::newRow("h stays 0")
            << QByteArray("\xb3\0\0\0\0\0\0\0\0\0\0k", 12) << 0LL << QByteArray("0");
        QTest::newRow("11 characters") << QByteArray("7u05k2jhn9y") << 1001LL << QByteArray();
        QTest::newRow("13 characters") << QByteArray("7u05k2jhn9ymk") << 1001LL << QByteArray();
        QTest::newRow("wrong check") << QByteArray("7u05k2jhn9yk") << 1001LL << QByteArray();
    }

    void known_answers() {
        QFETCH(QByteArray, temporary);
        QFETCH(qint64, client);
        QFETCH(QByteArray, password);
        brano::core::v6::result::stack status;
        std::string const derived = kelvra::derive_support_password(
            std::string_view(temporary.constData(), temporary.size()), client, status);
        QCOMPARE(QByteArray::fromStdString(derived), password);
        QCOMPARE(status.has_failed(), password.isEmpty());
    }

    // Each byte picks its character modulo the alphabet's size.
    void code_from_bytes() {
        QCOMPARE(code::make_code({38, 77, 255, 3, 4, 10, 12, 17, 21, 23, 24}),
                 std::string("kvx72069418q"));
    }

    void desk_tool_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("password") << QStringList{"7u05k2jhn9ym", "4294968297"} << 0
                                  << QByteArray("3975159341\n") << QByteArray();
        QTest::newRow("negative client")
            << QStringList{"0123456789a1", "-1"} << 0 << QByteArray("2593182095\n") << QByteArray();
        QTest::newRow("short code") << QStringList{"7u05k2jhn9y", "1001"} << 1 << QByteArray()
                                    << QByteArray("deve ter 12 caracteres");
        QTest::newRow("wrong check") << QStringList{"7u05k2jhn9yk", "1001"} << 1 << QByteArray()
                                     << QByteArray("o último caractere não confere");
        QTest::newRow("upper case") << QStringList{"7U05K2JHN9YM", "1001"} << 1 << QByteArray()
                                    << QByteArray("só letras minúsculas e algarismos");
        QTest::newRow("no arguments") << QStringList{} << 64 << QByteArray() << QByteArray("uso:");
        QTest::newRow("client not a number")
            << QStringList{"7u05k2jhn9ym", "10a"} << 64 << QByteArray() << QByteArray("uso:");
        QTest::newRow("client beyond 64 bits") << QStringList{"7u05k2jhn9ym", "9223372036854775808"}
                                               << 64 << QByteArray() << QByteArray("uso:");
        QTest::newRow("constants")
            << QStringList{"--constantes"} << 0
            << QByteArray("alfabeto " + QByteArray::fromStdString(std::string(code::alphabet)) +
                          "\ninicial " + QByteArray::number(code::start_value) +
                          "\nmultiplicador " + QByteArray::number(quint64(code::multiplier)) +
                          "\nmodulo " + QByteArray::number(quint64(code::modulus)) + "\n")
            << QByteArray();
    }

    void desk_tool() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        auto const run =
            kelvra::testing::run_program(QStringLiteral(KELVRA_SENHA_SUPORTE), arguments);
        QCOMPARE(run.code, exit);
        QCOMPARE(run.out, out);
        QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.contains(err), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(tst_support_code)

#include "tst_support_code.moc"
