// The support password against known answers, and the desk's tool.
#include "core/derive_support_password.hpp"
#include "core/support_code.hpp"
#include "support/processes.hpp"

#include <QTest>

using bytes = QByteArray;
using kelvra::testing::run_program;

class tst_support_code : public QObject {
    Q_OBJECT

private slots:
    // Computed by hand and with a python3 script written from the arithmetic
    // alone, not from this code. No password: the code is refused.
    void known_answers_data() {
        QTest::addColumn<bytes>("temporary");
        QTest::addColumn<qint64>("client");
        QTest::addColumn<bytes>("password");
        QTest::newRow("digits") << bytes("7u05k2jhn9ym") << 1001LL << bytes("3975159341");
        QTest::newRow("2^32+1001") << bytes("7u05k2jhn9ym") << 4294968297LL << bytes("3975159341");
        QTest::newRow("negative client") << bytes("0123456789a1") << -1LL << bytes("2593182095");
        QTest::newRow("no digits") << bytes("kvujhnuiywfk") << 987654LL << bytes("8350854801");
        QTest::newRow("h = 0") << bytes("\xb3\0\0\0\0\0\0\0\0\0\0k", 12) << 0LL << bytes("0");
        QTest::newRow("11 characters") << bytes("7u05k2jhn9y") << 1001LL << bytes();
        QTest::newRow("wrong check") << bytes("7u05k2jhn9yk") << 1001LL << bytes();
    }

    // The desk's tool gives the same answers, and refuses with status 1.
    void known_answers() {
        QFETCH(bytes, temporary);
        QFETCH(qint64, client);
        QFETCH(bytes, password);
        brano::core::v6::result::stack status;
        std::string const derived = kelvra::derive_support_password(
            std::string_view(temporary.constData(), temporary.size()), client, status);
        QCOMPARE(bytes::fromStdString(derived), password);
        QCOMPARE(status.has_failed(), password.isEmpty());
        if (!temporary.contains('\0')) {
            auto const run =
                run_program(KELVRA_SENHA_SUPORTE, {temporary, QString::number(client)});
            QCOMPARE(run.code, password.isEmpty() ? 1 : 0);
            QCOMPARE(run.out, password.isEmpty() ? bytes() : password + "\n");
        }
    }

    // Bytes to characters, characters outside them, a bad command line, constants.
    void alphabet_and_desk_tool() {
        QCOMPARE(kelvra::support_code::make_code({38, 77, 255, 3, 4, 10, 12, 17, 21, 23, 24}),
                 "kvx72069418q");
        auto const upper = run_program(KELVRA_SENHA_SUPORTE, {"7U05K2JHN9YM", "1001"});
        QVERIFY(upper.code == 1 && upper.err.contains("só letras minúsculas e algarismos"));
        auto const usage =
            run_program(KELVRA_SENHA_SUPORTE, {"7u05k2jhn9ym", "9223372036854775808"});
        QVERIFY(usage.code == 64 && usage.err.startsWith("uso: kelvra-senha-suporte"));
        QCOMPARE(run_program(KELVRA_SENHA_SUPORTE, {"--constantes"}).out,
                 bytes("alfabeto kvu72jh5nu0i6ywfc9erl4s18obxm3t5dpzagq\n"
                       "inicial 179\nmultiplicador 41\nmodulo 7340033\n"));
    }
};

QTEST_GUILESS_MAIN(tst_support_code)

#include "tst_support_code.moc"
