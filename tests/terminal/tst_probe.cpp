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

QByteArray const printer_list_request =
    framed("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListRequest\",\"version\":1}");

} // namespace

class tst_probe : public QObject {
    Q_OBJECT

private slots:
    // The probe against a server that answers its whole request with
    // `answer` (sent as is; empty: close without answering), or against no
    // server at all.
    void exchanges_data() {
        QTest::addColumn<QByteArray>("connection_id"); // null: not in the environment
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("exit_status");
        QByteArray const id("7b2d2d7d");
        QTest::newRow("default request, reply")
            << id << true << QStringList{}
            << framed(
                   "{\"connection_id\":\"7b2d2d7d\",\"kind\":\"PrinterListResponse\",\"printers\":["
                   "{\"nome\":\"Balc\\u00e3o \\\"1\\\"\",\"tipo\":1}],\"version\":1}")
            << printer_list_request << 0;
        QTest::newRow("chosen kind and version, error reply")
            << id << true
            << QStringList{QStringLiteral("--kind"), QStringLiteral("Open\"Url\"Request"),
                           QStringLiteral("--version"), QStringLiteral("-3")}
            << framed("{\"code\":7,\"connection_id\":\"7b2d2d7d\",\"kind\":\"Error\",\"message\":"
                      "\"Requisição ainda não disponível em sistemas Linux\",\"version\":1}")
            << framed("{\"connection_id\":\"7b2d2d7d\",\"kind\":\"Open\\\"Url\\\"Request\","
                      "\"version\":-3}")
            << 1;
        QTest::newRow("closed without a reply")
            << id << true << QStringList{} << QByteArray() << printer_list_request << 2;
        QTest::newRow("reply that is no JSON object")
            << id << true << QStringList{} << framed("[1,2]") << printer_list_request << 3;
        QTest::newRow("reply announced above the limit")
            << id << true << QStringList{} << QByteArray::fromHex("06400001")
            << printer_list_request << 3;
        QTest::newRow("no connection id in the environment")
            << QByteArray() << true << QStringList{} << framed("{}") << QByteArray() << 2;
        QTest::newRow("connection id that names another path")
            << QByteArray("../../x") << true << QStringList{} << framed("{}") << QByteArray() << 2;
        QTest::newRow("no forward listening")
            << id << false << QStringList{} << QByteArray() << QByteArray() << 2;
        auto wrong = [&](char const* tag, QStringList const& options) {
            QTest::newRow(tag) << id << true << options << QByteArray() << QByteArray() << 64;
        };
        wrong("unknown option", {QStringLiteral("--port"), QStringLiteral("1")});
        wrong("version not a number", {QStringLiteral("--version"), QStringLiteral("1x")});
        wrong("option without value", {QStringLiteral("--kind")});
        wrong("empty kind", {QStringLiteral("--kind"), QString()});
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
                    QStringList{QStringLiteral("--socket"), path, QStringLiteral("--timeout"),
                                QStringLiteral("20")} +
                        options);
        QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, 30000);
        QCOMPARE(probe.exitCode(), exit_status);
        QCOMPARE(received, request);
        if (exit_status <= 1) {
            QCOMPARE(probe.readAllStandardOutput(), answer.mid(4) + '\n');
        }
    }

    void reading_replies_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("kind");
        QTest::newRow("spaces and nesting")
            << QByteArray(" { \"a\" : [1, -2.5e3, {\"kind\":\"inner\"}, null, true] , "
                          "\"kind\" : \"X\\\"\\u00e3\" } ")
            << true << QByteArray("X\"ã");
        QTest::newRow("kind not a string") << QByteArray("{\"kind\":1}") << true << QByteArray();
        QTest::newRow("trailing text") << QByteArray("{\"kind\":\"A\"} x") << false << QByteArray();
        QTest::newRow("bad escape") << QByteArray("{\"kind\":\"\\q\"}") << false << QByteArray();
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
