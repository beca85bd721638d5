// kelvra-probe, the server-side check: its request on the wire, its exit
// statuses, and its reading of replies, against a real Unix socket.
#include "probe.hpp"

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

QString const id = QStringLiteral("7b2d2d7d");

} // namespace

class tst_probe : public QObject {
    Q_OBJECT

    // Runs the probe against a server that answers every request with
    // `answer` (sent as is; empty: close without answering). Returns the
    // exit status; the request the server read goes to `request`.
    int run(QStringList const& options, QByteArray const& answer, QByteArray& request,
            QByteArray& output, QByteArray connection_id = id.toLatin1()) {
        QTemporaryDir dir;
        QString const path = dir.filePath(QStringLiteral("tunnel"));
        QLocalServer server;
        server.listen(path);
        QLocalSocket* peer = nullptr;
        connect(&server, &QLocalServer::newConnection, this, [&] {
            peer = server.nextPendingConnection();
            connect(peer, &QLocalSocket::readyRead, this, [&, peer] {
                request += peer->readAll();
                if (request.size() >= 4 && static_cast<quint32>(request.size()) >=
                                               4 + qFromBigEndian<quint32>(request.constData())) {
                    if (answer.isEmpty()) {
                        peer->disconnectFromServer();
                    } else {
                        peer->write(answer);
                        peer->flush();
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
                    QStringList{QStringLiteral("--socket"), path, QStringLiteral("--timeout"),
                                QStringLiteral("20")} +
                        options);
        if (!QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 30000)) {
            return -1;
        }
        output = probe.readAllStandardOutput();
        return probe.exitCode();
    }

private slots:
    void exchanges_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("exit_status");
        QByteArray const reply =
            "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListResponse\",\"printers\":[{"
            "\"nome\":\"Balc\\u00e3o \\\"1\\\"\",\"tipo\":1}],\"version\":1}";
        QByteArray const error =
            "{\"code\":7,\"connection_id\":\"7b2d2d7d\",\"kind\":\"Error\",\"message\":"
            "\"Requisição ainda não disponível em sistemas Linux\",\"version\":1}";
        QTest::newRow("default request, reply")
            << QStringList{} << framed(reply)
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}")
            << 0;
        QTest::newRow("chosen kind and version, error reply")
            << QStringList{QStringLiteral("--kind"), QStringLiteral("Open\"Url\"Request"),
                           QStringLiteral("--version"), QStringLiteral("-3")}
            << framed(error)
            << framed("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"Open\\\"Url\\\"Request\","
                      "\"version\":-3}")
            << 1;
        QTest::newRow("closed without a reply")
            << QStringList{} << QByteArray()
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}")
            << 2;
        QTest::newRow("reply that is no JSON object")
            << QStringList{} << framed("[1,2]")
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}")
            << 3;
        QTest::newRow("reply announced above the limit")
            << QStringList{} << QByteArray::fromHex("06400001")
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}")
            << 3;
    }

    void exchanges() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QFETCH(int, exit_status);
        QByteArray received;
        QByteArray output;
        QCOMPARE(run(options, answer, received, output), exit_status);
        QCOMPARE(received, request);
        if (exit_status <= 1) {
            QCOMPARE(output, answer.mid(4) + '\n');
        }
    }

    void no_way_to_the_workstation_data() {
        QTest::addColumn<QByteArray>("connection_id");
        QTest::addColumn<bool>("server");
        QTest::newRow("no connection id in the environment") << QByteArray() << true;
        QTest::newRow("connection id that names another path") << QByteArray("../../x") << true;
        QTest::newRow("no forward listening") << QByteArray("7b7d") << false;
    }

    void no_way_to_the_workstation() {
        QFETCH(QByteArray, connection_id);
        QFETCH(bool, server);
        QByteArray received;
        QByteArray output;
        if (server) {
            QCOMPARE(run({}, framed("{}"), received, output, connection_id), 2);
            QVERIFY(received.isEmpty());
        } else {
            QProcess probe;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("KELVRA_CONNECTION_ID"),
                               QString::fromLatin1(connection_id));
            probe.setProcessEnvironment(environment);
            probe.start(QStringLiteral(KELVRA_PROBE_PATH),
                        {QStringLiteral("--socket"), QStringLiteral("/nonexistent/socket")});
            QVERIFY(probe.waitForFinished(30000));
            QCOMPARE(probe.exitCode(), 2);
        }
    }

    void wrong_options_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--port"), QStringLiteral("1")};
        QTest::newRow("version not a number")
            << QStringList{QStringLiteral("--version"), QStringLiteral("1x")};
        QTest::newRow("option without value") << QStringList{QStringLiteral("--kind")};
        QTest::newRow("empty kind") << QStringList{QStringLiteral("--kind"), QString()};
    }

    void wrong_options() {
        QFETCH(QStringList, options);
        QProcess probe;
        probe.start(QStringLiteral(KELVRA_PROBE_PATH), options);
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 64);
    }

    void reading_replies_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("kind");
        QTest::newRow("compact") << QByteArray("{\"kind\":\"Error\",\"code\":7}") << true
                                 << QByteArray("Error");
        QTest::newRow("spaces and nesting")
            << QByteArray(" { \"a\" : [1, -2.5e3, {\"kind\":\"inner\"}, null, true] , \"kind\" : "
                          "\"X\\\"\\u00e3\" } ")
            << true << QByteArray("X\"ã");
        QTest::newRow("kind not a string") << QByteArray("{\"kind\":1}") << true << QByteArray();
        QTest::newRow("array") << QByteArray("[]") << false << QByteArray();
        QTest::newRow("trailing text") << QByteArray("{\"kind\":\"A\"} x") << false << QByteArray();
        QTest::newRow("unterminated string")
            << QByteArray("{\"kind\":\"A") << false << QByteArray();
        QTest::newRow("bad escape") << QByteArray("{\"kind\":\"\\q\"}") << false << QByteArray();
        QTest::newRow("missing value") << QByteArray("{\"kind\":}") << false << QByteArray();
        QTest::newRow("deep nesting is refused, not a crash")
            << QByteArray("{\"a\":") + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"
            << false << QByteArray();
    }

    void reading_replies() {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        QFETCH(QByteArray, kind);
        std::string value;
        QCOMPARE(kelvra::probe::top_level_string(json.toStdString(), "kind", value), valid);
        if (valid) {
            QCOMPARE(QByteArray::fromStdString(value), kind);
        }
    }

    void request_text_is_escaped() {
        kelvra::probe::request r;
        r.connection_id = "7b";
        r.kind = std::string("a\"b\\c\nd\x01", 8);
        r.version = 2;
        QCOMPARE(kelvra::probe::request_json(r),
                 std::string("{\"connection_id\":\"7b\",\"kind\":\"a\\\"b\\\\c\\u000ad\\u0001\","
                             "\"version\":2}"));
    }
};

QTEST_GUILESS_MAIN(tst_probe)
#include "tst_probe.moc"
