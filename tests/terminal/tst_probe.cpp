// kelvra-probe, the server-side check: its request on the wire, its exit
// statuses, and its reading of replies, against a real Unix socket.
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray framed(QByteArray const& body) {
    QByteArray size(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), size.data());
    return size + body;
}

QByteArray const printer_list_request =
    framed("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}");

} // namespace

class tst_probe : public QObject {
    Q_OBJECT

private slots:
    // The probe against a server that answers its whole request with
    // `answer` (sent as is; empty: close without answering), or against no
    // server at all. It exits with 0 for a reply, 1 for an error reply, 2
    // without the environment or the workstation, 3 for a malformed reply
    // and 64 for a wrong command line.
    void exchanges_data() {
        QTest::addColumn<QByteArray>("connection_id"); // null: not in the environment
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("exit_status");
        QByteArray const id("7b2d2d7d");
        auto row = [&](char const* tag, QByteArray const& answer, int exit_status) {
            QTest::newRow(tag) << id << true << QStringList{} << answer << printer_list_request
                               << exit_status;
        };
        row("default request, reply",
            framed("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListResponse\",\"printers\":["
                   "{\"nome\":\"Balc\\u00e3o \\\"1\\\"\",\"tipo\":1}],\"version\":1}"),
            0);
        QTest::newRow("chosen kind and version, error reply")
            << id << true << QStringList{"--kind", "Open\"Url\"\\Request\n", "--version", "-3"}
            << framed("{\"code\":7,\"connection_id\":\"7b2d2d7d\",\"kind\":\"Error\",\"message\":"
                      "\"Requisição ainda não disponível em sistemas Linux\",\"version\":1}")
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"Open\\\"Url\\\"\\\\Request\\u000a\","
                   "\"version\":-3}")
            << 1;
        row("closed without a reply", QByteArray(), 2);
        row("reply that is no JSON object", framed("[1,2]"), 3);
        row("reply with trailing text", framed("{\"kind\":\"A\"} x"), 3);
        row("reply with a bad escape", framed("{\"kind\":\"\\q\"}"), 3);
        row("deeply nested reply, refused and no crash",
            framed("{\"a\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"), 3);
        row("reply announced above the limit", QByteArray::fromHex("06400001"), 3);
        QTest::newRow("no connection id in the environment")
            << QByteArray() << true << QStringList{} << framed("{}") << QByteArray() << 2;
        QTest::newRow("connection id that names another path")
            << QByteArray("../../x") << true << QStringList{} << framed("{}") << QByteArray() << 2;
        QTest::newRow("no forward listening")
            << id << false << QStringList{} << QByteArray() << QByteArray() << 2;
        auto wrong = [&](char const* tag, QStringList const& options) {
            QTest::newRow(tag) << id << true << options << QByteArray() << QByteArray() << 64;
        };
        wrong("unknown option", {"--port", "1"});
        wrong("empty kind", {"--kind", ""});
    }

    void exchanges() {
        QFETCH(QByteArray, connection_id);
        QFETCH(bool, listening);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QFETCH(int, exit_status);
        QTemporaryDir dir;
        QString const path = dir.filePath(QStringLiteral("tunnel"));
        QLocalServer server;
        QVERIFY(!listening || server.listen(path));
        QByteArray received;
        connect(&server, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* const peer = server.nextPendingConnection();
            connect(peer, &QLocalSocket::readyRead, this, [&, peer] {
                received += peer->readAll();
                if (received.size() >= 4 && static_cast<quint32>(received.size()) >=
                                                4 + qFromBigEndian<quint32>(received.constData())) {
                    if (answer.isEmpty()) {
                        peer->disconnectFromServer();
                    } else {
                        peer->write(answer);
                    }
                }
            });
        });
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KELVRA_CONNECTION_ID"),
                           QString::fromLatin1(connection_id));
        if (connection_id.isNull()) {
            environment.remove(QStringLiteral("KELVRA_CONNECTION_ID"));
        }
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(KELVRA_PROBE_PATH),
                    QStringList{"--socket", path, "--timeout", "20"} + options);
        QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, 60000);
        QCOMPARE(probe.exitCode(), exit_status);
        QCOMPARE(received, request);
        if (exit_status <= 1) {
            QCOMPARE(probe.readAllStandardOutput(), answer.mid(4) + '\n');
        }
    }
};

QTEST_GUILESS_MAIN(tst_probe)
#include "tst_probe.moc"
