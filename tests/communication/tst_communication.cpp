// The single-instance exchange: the bytes on the wire, and this process's
// client against the program's own server in a child process, over a real
// local socket. Every test has a runtime folder of its own, so nothing here
// touches the user's socket. Expected bytes are written out by hand, never
// produced with the program's encoder.
#include "communication/client_exchange.hpp"
#include "communication/services.hpp"
#include "core/status.hpp"
#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace communication = kelvra::communication;
namespace services = kelvra::protocol::services;
namespace result = brano::core::v6::result;
using kelvra::testing::wait_for_line;

namespace {

constexpr uid_t other_uid = 65534;

QByteArray hex(char const* digits) {
    return QByteArray::fromHex(digits);
}

// QDataStream's form of a text: its byte count, then UTF-16 big-endian.
QByteArray text(QString const& value) {
    QByteArray digits = QByteArray::number(value.size() * 2, 16).rightJustified(8, '0');
    for (QChar const c : value) {
        digits += QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    }
    return QByteArray::fromHex(digits);
}

// The failure form with two entries, the second with "path" and "campo",
// its arguments in the given wire order.
QByteArray two_entry_failure(bool arguments_by_name) {
    QByteArray const campo = text("campo") + text("nome");
    QByteArray const path = text("path") + text("/s/1.json");
    return hex("00000001 00000002") + text("kelvra-config") + text("O arquivo não foi encontrado") +
           hex("00000000") + text("kelvra-load-session") +
           text("Ocorreu um erro ao manipular o arquivo referente à sessão") + hex("00000002") +
           (arguments_by_name ? campo + path : path + campo);
}

// The debug lines of this process ("kelvra.communication: timeout").
QByteArray logged;
void keep_message(QtMsgType, QMessageLogContext const& context, QString const& message) {
    logged += QByteArray(context.category) + ": " + message.toUtf8() + '\n';
}

struct stat stat_of(QString const& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

QString default_socket_path(kelvra::testing::isolated_home const& home) {
    return QDir(home.runtime_dir()).filePath(QStringLiteral("KelvraCommunicationServer"));
}

// The program's own server in a child program that prints the signals it
// emits and ends when its input closes (instance_harness.cpp).
struct instance : kelvra::testing::child_process {
    QString path; // where it listens

    bool launch(QStringList const& arguments = {}) {
        start(QStringLiteral(KELVRA_INSTANCE_HARNESS), arguments);
        return arguments.isEmpty() ? listens() : bool(wait_for_line(*this, "ready"));
    }
    // Whether it says "listening PATH" (not "not listening" and exit).
    bool listens() {
        auto const line = wait_for_line(*this, "listening ");
        path = line ? QString::fromUtf8(line->mid(int(qstrlen("listening ")))) : QString();
        return bool(line);
    }
    // Ends it; the lines it printed since.
    QByteArrayList finish() {
        kelvra::testing::end_process(*this);
        QByteArrayList lines = readAllStandardOutput().split('\n');
        lines.removeLast();
        return lines;
    }
};

// A stand-in instance in this process: it answers every request with
// `reply` (nothing when that is empty) and counts its connections.
struct scripted_server : QObject {
    QLocalServer server;
    int connections = 0;

    scripted_server(QString const& path, QByteArray const& reply) {
        server.setSocketOptions(QLocalServer::UserAccessOption);
        server.listen(path);
        connect(&server, &QLocalServer::newConnection, this, [this, reply] {
            while (QLocalSocket* socket = server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QLocalSocket::readyRead, socket, [socket, reply] {
                    socket->readAll();
                    socket->write(reply);
                });
            }
        });
    }
};

bool connect_to(QLocalSocket& socket, QString const& path) {
    socket.connectToServer(path);
    return socket.waitForConnected(5000);
}

// In hex, the first `size` bytes that arrive on `socket`.
QByteArray receive(QLocalSocket& socket, int size) {
    (void)QTest::qWaitFor([&] { return socket.bytesAvailable() >= size; },
                          kelvra::testing::process_timeout_ms);
    return socket.read(size).toHex(' ');
}

} // namespace

class tst_communication : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(keep_message); }
    void init() { logged.clear(); }

    void message_bytes_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");
        using namespace services;
        QTest::newRow("is_running request") << encode(is_running::request{}) << hex("00000002");
        QTest::newRow("open_application request")
            << encode(open_application::request{}) << hex("00000003");
        QTest::newRow("open_connection request")
            << encode(open_connection::request{"Vendas"})
            << hex("00000004 0000000c 0056 0065 006e 0064 0061 0073");
        QTest::newRow("open_connection request, accented name")
            << encode(open_connection::request{"Produção"})
            << hex("00000004 00000010 0050 0072 006f 0064 0075 00e7 00e3 006f");
        QTest::newRow("open_connection request, empty name")
            << encode(open_connection::request{QStringLiteral("")}) << hex("00000004 00000000");
        QTest::newRow("open_connection request, null name")
            << encode(open_connection::request{QString()}) << hex("00000004 00000000");
        QTest::newRow("is_running response, true")
            << encode(is_running::response{true}) << hex("00000002 01");
        QTest::newRow("is_running response, false")
            << encode(is_running::response{false}) << hex("00000002 00");
        QTest::newRow("open_application response")
            << encode(open_application::response{}) << hex("00000003");
        QTest::newRow("open_connection response")
            << encode(open_connection::response{}) << hex("00000004");
        // Arguments attached as "path" then "campo" go out ordered by name.
        result::stack status;
        status.push_item(kelvra::status::config_category::instance(), 2);
        status.push_item(kelvra::status::load_session_category::instance(), 12)
            .set_argument("path", "/s/1.json")
            .set_argument("campo", "nome");
        QTest::newRow("failure response")
            << encode(failure{error_entries(status)}) << two_entry_failure(true);
        QTest::newRow("failure response without entries")
            << encode(failure{}) << hex("00000001 00000000");
    }

    void message_bytes() {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded.toHex(' '), expected.toHex(' '));
    }

    // Malformed bytes never decode to a message, and a declared count or
    // length never makes the decoder allocate or loop beyond the bytes.
    void malformed_messages_are_rejected_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QByteArray const entry = text("a") + text("b");
        QTest::newRow("request: tag cut short") << "request" << hex("000000");
        QTest::newRow("request: unknown tag") << "request" << hex("00000007");
        QTest::newRow("request: failure tag") << "request" << hex("00000001 00000000");
        QTest::newRow("request: name cut short") << "request" << hex("00000004 0000000c 0056");
        QTest::newRow("request: huge name length") << "request" << hex("00000004 7ffffffe 0056");
        QTest::newRow("is_running reply: answer missing") << "is_running" << hex("00000002");
        QTest::newRow("reply: tag cut short") << "reply" << hex("000000");
        QTest::newRow("reply: negative entry count") << "reply" << hex("00000001 ffffffff");
        QTest::newRow("reply: huge entry count") << "reply" << hex("00000001 7fffffff");
        QTest::newRow("reply: fewer entries than counted")
            << "reply" << hex("00000001 00000002") + entry + hex("00000000");
        QTest::newRow("reply: negative argument count")
            << "reply" << hex("00000001 00000001") + entry + hex("ffffffff");
        QTest::newRow("reply: argument value missing")
            << "reply" << hex("00000001 00000001") + entry + hex("00000001") + text("path");
        QTest::newRow("reply: huge text length")
            << "reply" << hex("00000001 00000001 7ffffffe 0041");
    }

    void malformed_messages_are_rejected() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        if (kind == "request") {
            QVERIFY(!services::decode_request(bytes));
            return;
        }
        QVERIFY(!services::decode_is_running_reply(bytes));
        if (kind == "reply") {
            QVERIFY(!services::decode_open_application_reply(bytes));
            QVERIFY(!services::decode_open_connection_reply(bytes));
        }
    }

    // Each request of a second start: the reply it gets and the signal the
    // instance emits. A request the instance does not understand goes
    // unanswered until the client gives up; the instance still answers the
    // next.
    void instance_serves_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // null: none
        QTest::addColumn<QByteArray>("signal_line");
        QTest::newRow("is_running") << hex("00000002") << hex("00000002 01") << QByteArray();
        QTest::newRow("open_application")
            << hex("00000003") << hex("00000003") << QByteArray("open_application");
        QTest::newRow("open_connection") << hex("00000004") + text("Vendas") << hex("00000004")
                                         << QByteArray("open_connection [Vendas]");
        QTest::newRow("open_connection, accented name")
            << hex("00000004") + text("Produção") << hex("00000004")
            << QString("open_connection [Produção]").toUtf8();
        QTest::newRow("open_connection, empty name")
            << hex("00000004 00000000") << hex("00000004") << QByteArray("open_connection []");
        QTest::newRow("open_connection, null name")
            << hex("00000004 ffffffff") << hex("00000004") << QByteArray("open_connection []");
        QTest::newRow("unknown tag 7") << hex("00000007") << QByteArray() << QByteArray();
    }

    void instance_serves() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, signal_line);
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        QCOMPARE(server.path, default_socket_path(home));
        QCOMPARE(stat_of(server.path).st_mode & 077, mode_t{0}); // for its user only

        auto const answer = communication::client_exchange(request);
        QCOMPARE(answer.value_or(QByteArray()).toHex(' '), reply.toHex(' '));
        QCOMPARE(logged.contains("kelvra.communication: timeout"), reply.isNull());
        QCOMPARE(communication::query_is_running(), std::optional<bool>(true));

        QCOMPARE(server.finish(),
                 signal_line.isEmpty() ? QByteArrayList() : QByteArrayList{signal_line});
        QCOMPARE(server.exitCode(), 0);
        // The socket goes with the instance that ends normally.
        QVERIFY(!QFileInfo::exists(server.path));
    }

    // Raw connections to a running instance. One that connects and says
    // nothing holds up nobody: others are served while the instance waits
    // for it, and in the end it is told "timeout" and let go. Only the first
    // request on a connection is answered, whether the second comes in the
    // same write or after the reply.
    void raw_connections() {
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        QLocalSocket silent;
        QVERIFY(connect_to(silent, server.path));
        QSignalSpy let_go(&silent, &QLocalSocket::disconnected);

        QLocalSocket together;
        QVERIFY(connect_to(together, server.path));
        together.write(hex("00000002 00000003"));
        QCOMPARE(receive(together, 5), QByteArray("00 00 00 02 01"));
        QCOMPARE(silent.state(), QLocalSocket::ConnectedState);
        QLocalSocket after;
        QVERIFY(connect_to(after, server.path));
        after.write(hex("00000002"));
        QCOMPARE(receive(after, 5), QByteArray("00 00 00 02 01"));
        after.write(hex("00000003"));
        QCOMPARE(communication::query_is_running(), std::optional<bool>(true));

        QVERIFY(let_go.count() > 0 || let_go.wait(kelvra::testing::process_timeout_ms));
        QCOMPARE(together.readAll() + after.readAll(), QByteArray());
        QCOMPARE(server.finish(), QByteArrayList());
        QVERIFY(server.readAllStandardError().contains("kelvra.communication: timeout"));
    }

    // How the client reads what comes back to is_running: a reply with tag 3
    // counts as success with false; a failure is logged entry by entry.
    void replies_as_the_client_reads_them_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("running"); // -1: no answer
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("not running") << hex("00000002 00") << 0 << QByteArray();
        QTest::newRow("tag 3 counts as success with false") << hex("00000003") << 0 << QByteArray();
        QTest::newRow("answer cut short") << hex("00000002") << -1 << QByteArray("malformed reply");
        QTest::newRow("failure, every entry logged")
            << two_entry_failure(false) << -1
            << QString("kelvra.communication: kelvra-config O arquivo não foi encontrado\n"
                       "kelvra.communication: kelvra-load-session Ocorreu um erro ao manipular "
                       "o arquivo referente à sessão\n")
                   .toUtf8();
    }

    void replies_as_the_client_reads_them() {
        QFETCH(QByteArray, reply);
        QFETCH(int, running);
        QFETCH(QByteArray, log);
        kelvra::testing::isolated_home home;
        scripted_server server(default_socket_path(home), reply);
        QVERIFY(server.server.isListening());
        auto const answer = communication::query_is_running();
        QCOMPARE(answer ? int(*answer) : -1, running);
        QVERIFY2(logged.contains(log), logged.constData());
    }

    // Who gets the name when starts race for it, one or eight at once. A
    // live listener keeps it: an instance that answers, a server that never
    // answers (the client gives up), a socket of another owner (no request
    // reaches it); Qt's bind-and-rename would replace each without a word.
    // An instance that was killed leaves its socket behind (here with the
    // lock file of a start that died while taking the name): its
    // connections are refused, so one start removes it and listens.
    void one_listener_keeps_the_name_data() {
        QTest::addColumn<QString>("occupant");
        QTest::addColumn<int>("starts");
        QTest::addColumn<bool>("running"); // what a probe finds before they start
        QTest::newRow("instance that answers") << "instance" << 1 << true;
        QTest::newRow("server that never answers") << "silent" << 1 << false;
        QTest::newRow("socket of another owner") << "foreign" << 1 << false;
        QTest::newRow("eight starts, free name") << "" << 8 << false;
        QTest::newRow("eight starts, stale socket") << "killed" << 8 << false;
    }

    void one_listener_keeps_the_name() {
        QFETCH(QString, occupant);
        QFETCH(int, starts);
        QFETCH(bool, running);
        if (occupant == "foreign" && ::geteuid() != 0) {
            QSKIP("needs root to hand a socket to another user");
        }
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        instance first;
        std::unique_ptr<scripted_server> stand_in;
        if (occupant == "instance" || occupant == "killed") {
            QVERIFY(first.launch());
        } else if (!occupant.isEmpty()) {
            stand_in = std::make_unique<scripted_server>(
                path, occupant == "foreign" ? hex("00000002 01") : QByteArray());
            QVERIFY(stand_in->server.isListening());
        }
        if (occupant == "foreign") {
            QCOMPARE(::chown(QFile::encodeName(path).constData(), other_uid, other_uid), 0);
        } else if (occupant == "killed") {
            qint64 const pid = first.processId();
            first.kill();
            QVERIFY(first.waitForFinished());
            QVERIFY(kelvra::testing::write_file(
                path + ".lock", QByteArray::number(pid) + "\ncommunication_instance\n" +
                                    QSysInfo::machineHostName().toUtf8() + "\n"));
        }
        ino_t const inode = stat_of(path).st_ino;
        QCOMPARE(inode != 0, !occupant.isEmpty());
        QCOMPARE(communication::probe_is_running(), running);
        QCOMPARE(logged.contains("kelvra.communication: timeout"), occupant == "silent");

        // All wait at "ready" and are let go together.
        std::vector<std::unique_ptr<instance>> racers;
        for (int i = 0; i < starts; ++i) {
            racers.push_back(std::make_unique<instance>());
            QVERIFY(racers.back()->launch({"--on-go"}));
        }
        for (auto& racer : racers) {
            racer->write("go\n");
        }
        int listening = 0;
        for (auto& racer : racers) {
            if (racer->listens()) {
                ++listening;
                QCOMPARE(racer->path, path);
            } else {
                QCOMPARE(racer->exitCode(), 2);
                QVERIFY(racer->readAllStandardError().contains("start listen error"));
            }
        }
        bool const taken = occupant.isEmpty() || occupant == "killed";
        QCOMPARE(listening, taken ? 1 : 0);
        QCOMPARE(communication::probe_is_running(), taken || running);
        if (!taken) {
            QCOMPARE(stat_of(path).st_ino, inode);
        }
        if (occupant == "foreign") {
            QCOMPARE(stat_of(path).st_uid, other_uid);
            QCoreApplication::processEvents();
            QCOMPARE(stand_in->connections, 0);
        }
    }
};

QTEST_GUILESS_MAIN(tst_communication)
#include "tst_communication.moc"
