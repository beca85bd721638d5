// The kelvra executable itself, started as a user would start it.
#include <QFile>
#include <QProcess>
#include <QTest>

#include "support/test_environment.hpp"

class tst_program : public QObject {
    Q_OBJECT

private slots:
    // Always without a display: the program must not abort for want of one; only
    // the window needs a graphical session. From an installation of its own,
    // where a missing var/ folder is a failure.
    void exit_status_and_message_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("unknown option")
            << QStringList{"--foo"} << 1
            << QByteArray("kelvra-commandline-parser: A opção requisitada não está registrada nas "
                          "opções disponíveis\n    option-name: foo\n");
        QTest::newRow("automatic opening")
            << QStringList{"--auto-open-connection"} << 0 << QByteArray();
        QTest::newRow("bare start") << QStringList{} << 1
                                    << QByteArray("kelvra: a janela do Kelvra precisa de uma "
                                                  "sessão gráfica (DISPLAY ou WAYLAND_DISPLAY)\n");
    }

    void exit_status_and_message() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        kelvra::testing::isolated_home home;
        kelvra::testing::install_root root;
        QVERIFY(QFile::copy(KELVRA_EXECUTABLE, root.file("bin/kelvra")));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (char const* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(name);
        }
        process.setProcessEnvironment(env);
        process.start(root.file("bin/kelvra"), args);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), code);
        QByteArray const said = process.readAllStandardError();
        QVERIFY2(said.contains(err), said.constData());
    }
};

QTEST_GUILESS_MAIN(tst_program)
#include "tst_program.moc"
