// kelvra-probe's request, exit statuses and reading of replies, against a real Unix socket.
#include "tunnel/tunnel_fixtures.hpp"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using kelvra::testing::tunnel::frame_of;

namespace {

QByteArray const id("7b2d2d7d");
QByteArray const printer_list_request =
    frame_of("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}");

} // namespace

class tst_probe : public QObject {
    Q_OBJECT

private slots:
    // The server answers the whole request with `answer` (empty: closes). Exit 0: a reply,
    // 1: an error reply, 2: no environment or workstation, 3: a malformed reply, 64: usage.
    void exchanges_data() {
        QTest::addColumn<QByteArray>("connection_id"); // null: not in the environment
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("exit_status");
        // Then the options and the request they make, the environment, a listener.
        auto row = [](char const* tag, QByteArray const& answer, int exit_status,
                      QStringList const& options = {},
                      QByteArray const& request = printer_list_request,
                      QByteArray const& connection_id = id, bool listening = true) {
            QTest::newRow(tag) << connection_id << listening << options << answer << request
                               << exit_status;
        };
        row("default request, reply",
            frame_of(
                "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListResponse\",\"printers\":["
                "{\"nome\":\"Balc\\u00e3o \\\"1\\\"\",\"tipo\":1}],\"version\":1}"),
            0);
        row("chosen kind and version, error reply",
            kelvra::testing::tunnel::error_reply(id, 7, kelvra::testing::tunnel::not_on_linux), 1,
            {"--kind", "Open\"Url\"\\Request\n", "--version", "-3"},
            frame_of(
                "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"Open\\\"Url\\\"\\\\Request\\u000a\","
                "\"version\":-3}"));
        row("closed without a reply", {}, 2);
        row("reply that is no JSON object", frame_of("[1,2]"), 3);
        row("reply with trailing text", frame_of("{\"kind\":\"A\"} x"), 3);
        row("reply with a bad escape", frame_of("{\"kind\":\"\\q\"}"), 3);
        row("deeply nested reply, refused and no crash",
            frame_of("{\"a\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"), 3);
        row("reply announced above the limit", QByteArray::fromHex("06400001"), 3);
        row("no connection id in the environment", frame_of("{}"), 2, {}, {}, QByteArray());
        row("connection id that names another path", frame_of("{}"), 2, {}, {}, "../../x");
        row("no forward listening", {}, 2, {}, {}, id, false);
        row("unknown option", {}, 64, {"--port", "1"}, {});
        row("empty kind", {}, 64, {"--kind", ""}, {});
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
        environment.remove(QStringLiteral("KELVRA_CONNECTION_ID"));
        if (!connection_id.isNull()) {
            environment.insert(QStringLiteral("KELVRA_CONNECTION_ID"),
                               QString::fromLatin1(connection_id));
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
