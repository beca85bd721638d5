// bin/kelvra started as a user starts it, from a temporary installation with
// the recording terminal program as libexec/putty.
#include "sessions/putty_session_path.hpp"
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

using kelvra::testing::finished_program;
using kelvra::testing::process_timeout_ms;

namespace {

QByteArray frame(QByteArray const& body) {
    return QByteArray::fromHex(QByteArray::number(body.size(), 16).rightJustified(8, '0')) + body;
}

} // namespace

class tst_kelvra_load : public QObject {
    Q_OBJECT

    kelvra::testing::kelvra_installation installed_{KELVRA_EXECUTABLE, KELVRA_RECORDING_PUTTY};
    QString const records_ = installed_.records.path();

    QString kelvra() const { return installed_.kelvra(); }
    void save(QString const& name, bool autostart) {
        QVERIFY(installed_.save(name, autostart, {{"EPSON-" + name, "Balcão", 2}}));
    }

    finished_program start(QStringList const& arguments) const {
        return kelvra::testing::run_program(kelvra(), arguments);
    }

    // Waits for `count` terminal starts and takes them as "PARENT-PID SESSION".
    QStringList launches(int count) const {
        (void)QTest::qWaitFor(
            [&] { return kelvra::testing::recorded_calls(records_).size() >= count; },
            process_timeout_ms);
        QStringList taken;
        for (auto const& call : kelvra::testing::take_recorded_launches(records_)) {
            taken << QString::number(call.parent) + QLatin1Char(' ') + call.arguments.value(1);
        }
        return taken;
    }

    // The instance's tunnel answers for `name`'s connection with its printers.
    static void tunnel_knows(QString const& name) {
        QByteArray const profile = kelvra::testing::read_file(kelvra::putty_session_path(name));
        QByteArray const id = profile.mid(profile.indexOf("KELVRA_CONNECTION_ID=") + 21, 76);
        QByteArray const expected =
            frame("{\"connection_id\":\"" + id +
                  "\",\"kind\":\"PrinterListResponse\",\"printers\":[{\"identificador\":\"EPSON-" +
                  name.toUtf8() + "\",\"nome\":\"Balcão\",\"tipo\":2}],\"version\":1}");
        QTcpSocket socket;
        QVERIFY(QTest::qWaitFor(
            [&] {
                socket.abort();
                socket.connectToHost(QHostAddress(QHostAddress::LocalHost), 59565);
                return socket.waitForConnected(process_timeout_ms);
            },
            process_timeout_ms));
        socket.write(frame("{\"connection_id\":\"" + id +
                           "\",\"kind\":\"PrinterListRequest\",\"version\":1}"));
        QTRY_VERIFY_WITH_TIMEOUT(socket.bytesAvailable() >= expected.size() ||
                                     socket.state() != QTcpSocket::ConnectedState,
                                 process_timeout_ms);
        QCOMPARE(socket.readAll(), expected);
    }

private slots:
    void initTestCase() {
        QString const error = installed_.error();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void unknown_session_exits_1_with_its_report() {
        finished_program const f = start({"--open-connection", "Nenhuma"});
        QCOMPARE(f.code, 1);
        QVERIFY2(f.err.contains("kelvra-load-session: A sessão não foi encontrada\n"
                                "    session-name: Nenhuma\n"),
                 f.err.constData());
    }

    // The first start stays while its terminal runs; later starts hand their
    // sessions over and end with 0, so that its tunnel knows them all.
    void later_starts_hand_over_to_the_instance() {
        save("Primeira", false);
        save("Caixa", false);
        save("Vendas", true);
        save("estoque", true);
        QString const hold = installed_.records.filePath("hold");
        QVERIFY(kelvra::testing::write_file(hold, {}));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        kelvra::testing::child_process first;
        auto release = qScopeGuard([&] {
            QFile::remove(hold);
            qunsetenv("KELVRA_RECORD_HOLD");
        });
        first.start(kelvra(), {"--load", "Primeira"});
        QString const by_first = QString::number(first.processId()) + QLatin1Char(' ');
        QCOMPARE(launches(1), QStringList{by_first + "Primeira"});
        tunnel_knows("Primeira");

        QCOMPARE(start({"--load", "Caixa"}).code, 0);
        QCOMPARE(launches(1), QStringList{by_first + "Caixa"});
        // Every autostart session, in listing order, by the instance.
        QCOMPARE(start({"--auto-open-connection"}).code, 0);
        QCOMPARE(launches(2), (QStringList{by_first + "estoque", by_first + "Vendas"}));
        tunnel_knows("estoque");

        // A listing that fails opens, hands over and shows nothing.
        QVERIFY(installed_.root.write("var/sessions/quebrada.json", "{"));
        finished_program const failed = start({"--auto-open-connection"});
        QVERIFY(QFile::remove(installed_.root.file("var/sessions/quebrada.json")));
        QCOMPARE(failed.code, 1);
        QCOMPARE(failed.err, QByteArray());

        // A bare start only asks the instance to show itself.
        QCOMPARE(start({}).code, 0);
        QCOMPARE(start({"--foo"}).code, 1);

        QCOMPARE(first.state(), QProcess::Running);
        QFile::remove(hold);
        QVERIFY(first.waitForFinished(process_timeout_ms));
        QCOMPARE(first.exitCode(), 0);
        // The terminal programs write to the instance's own output.
        QCOMPARE(first.readAllStandardError().count("recording_putty: started\n"), 4);
        QVERIFY(!kelvra::testing::has_recorded_calls(records_));
    }
};

QTEST_GUILESS_MAIN(tst_kelvra_load)
#include "tst_kelvra_load.moc"
