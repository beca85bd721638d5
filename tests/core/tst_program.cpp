// The kelvra executable itself, started as a user would start it.
#include <QFile>
#include <QProcess>
#include <QTest>

#include "support/test_environment.hpp"

class tst_program : public QObject {
    Q_OBJECT

private slots:
    void malformed_command_line_exits_1_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("unknown option")
            << QStringList{"--foo"}
            << QByteArray("kelvra-commandline-parser: A opção requisitada não está registrada nas "
                          "opções disponíveis\n    option-name: foo\n");
        QTest::newRow("stray value")
            << QStringList{"Vendas"}
            << QByteArray("kelvra-commandline-parser: Foi informado um valor sem associação com "
                          "uma opção válida\n    option-value: Vendas\n");
    }

    void malformed_command_line_exits_1() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, expected);
        kelvra::testing::isolated_home home;
        QProcess process;
        process.start(QStringLiteral(KELVRA_EXECUTABLE), args);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QByteArray const err = process.readAllStandardError();
        QVERIFY2(err.contains(expected), err.constData());
    }

    // No display at all: the program must not abort for want of one; only
    // the window needs a graphical session.
    void start_without_display_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("automatic opening")
            << QStringList{"--auto-open-connection"} << 0 << QByteArray();
        QTest::newRow("bare start") << QStringList{} << 1
                                    << QByteArray("kelvra: a janela do Kelvra precisa de uma "
                                                  "sessão gráfica (DISPLAY ou WAYLAND_DISPLAY)\n");
    }

    void start_without_display() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        kelvra::testing::isolated_home home;
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        // From an installation of its own: a missing var/ folder is a failure.
        kelvra::testing::install_root root;
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_EXECUTABLE),
                            root.file(QStringLiteral("bin/kelvra"))));
        process.start(root.file(QStringLiteral("bin/kelvra")), args);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), code);
        QByteArray const said = process.readAllStandardError();
        QVERIFY2(said.contains(err), said.constData());
    }
};

QTEST_GUILESS_MAIN(tst_program)
#include "tst_program.moc"
