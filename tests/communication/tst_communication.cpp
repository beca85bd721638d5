// The single-instance exchange: the bytes on the wire, written out by hand,
// and this process's client against the program's own server in a child.
#include "communication/client_exchange.hpp"
#include "communication/services.hpp"
#include "core/status.hpp"
#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QFileInfo>
#include <QLocalServer>
#include <QSysInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace communication = kelvra::communication;
namespace services = kelvra::protocol::services;
namespace result = brano::core::v6::result;
using kelvra::testing::wait_for_line;

namespace {

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

// The program's own server in a child (instance_harness.cpp).
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
};

} // namespace

class tst_communication : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(keep_message); }
    void init() { logged.clear(); }

    // The client's requests and the failure reply (instance_serves has the rest).
    void message_bytes_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");
        using namespace services;
        auto row = [](char const* tag, QByteArray const& encoded, QByteArray const& expected) {
            QTest::newRow(tag) << encoded << expected;
        };
        row("is_running request", encode(is_running::request{}), hex("00000002"));
        row("open_application request", encode(open_application::request{}), hex("00000003"));
        row("open_connection request", encode(open_connection::request{"Produção"}),
            hex("00000004 00000010 0050 0072 006f 0064 0075 00e7 00e3 006f"));
        row("null name", encode(open_connection::request{QString()}), hex("00000004 00000000"));
        // Arguments attached as "path" then "campo" go out ordered by name.
        result::stack status;
        status.push_item(kelvra::status::config_category::instance(), 2);
        status.push_item(kelvra::status::load_session_category::instance(), 12)
            .set_argument("path", "/s/1.json")
            .set_argument("campo", "nome");
        row("failure", encode(failure{error_entries(status)}),
            hex("00000001 00000002") + text("kelvra-config") +
                text("O arquivo não foi encontrado") + hex("00000000") +
                text("kelvra-load-session") +
                text("Ocorreu um erro ao manipular o arquivo referente à sessão") +
                hex("00000002") + text("campo") + text("nome") + text("path") + text("/s/1.json"));
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
        auto row = [](char const* kind, char const* tag, QByteArray const& bytes) {
            QTest::newRow(tag) << kind << bytes;
        };
        QByteArray const entry = hex("00000001 00000001") + text("a") + text("b");
        row("request", "request: tag cut short", hex("000000"));
        row("request", "request: unknown tag", hex("00000007"));
        row("request", "request: failure tag", hex("00000001 00000000"));
        row("request", "request: huge name length", hex("00000004 7ffffffe 0056"));
        row("is_running", "is_running reply: answer missing", hex("00000002"));
        row("reply", "reply: tag cut short", hex("000000"));
        row("reply", "reply: negative entry count", hex("00000001 ffffffff"));
        row("reply", "reply: huge entry count", hex("00000001 7fffffff"));
        row("reply", "reply: negative argument count", entry + hex("ffffffff"));
        row("reply", "reply: argument value missing", entry + hex("00000001") + text("path"));
    }

    void malformed_messages_are_rejected() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QVERIFY(kind != "request" || !services::decode_request(bytes));
        QVERIFY(kind == "request" || !services::decode_is_running_reply(bytes));
        QVERIFY(kind != "reply" || !(services::decode_open_application_reply(bytes) ||
                                     services::decode_open_connection_reply(bytes)));
    }

    // What a running instance answers and signals, in order; an unknown request
    // goes unanswered until the client gives up, and the next is answered. Its
    // socket is for its user only and goes when it ends.
    void instance_serves() {
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        QCOMPARE(server.path, home.runtime_dir() + "/KelvraCommunicationServer");
        QCOMPARE(stat_of(server.path).st_mode & 077, mode_t{0});
        QByteArray const exchanges[][2] = {
            {hex("00000002"), hex("00000002 01")},
            {hex("00000003"), hex("00000003")},
            {hex("00000004") + text("Produção"), hex("00000004")},
            {hex("00000004 00000000"), hex("00000004")},
            {hex("00000004 ffffffff"), hex("00000004")}, // a null name
            {hex("00000007"), QByteArray()},
            {hex("00000002"), hex("00000002 01")},
        };
        for (auto const& [request, reply] : exchanges) {
            auto const answer = communication::client_exchange(request);
            QCOMPARE(answer.value_or(QByteArray()).toHex(' '), reply.toHex(' '));
        }
        QVERIFY(logged.contains("kelvra.communication: timeout"));
        kelvra::testing::end_process(server);
        QCOMPARE(QString::fromUtf8(server.readAllStandardOutput()),
                 QStringLiteral("open_application\nopen_connection [Produção]\n"
                                "open_connection []\nopen_connection []\n"));
        QVERIFY(!QFileInfo::exists(server.path));
    }

    // A live listener keeps the name (Qt's bind-and-rename would replace each
    // without a word): an instance, a server that never answers, a socket of
    // another owner. A killed instance leaves a socket that refuses (and here
    // a stale lock file): one of eight racing starts takes it over.
    void one_listener_keeps_the_name_data() {
        QTest::addColumn<QString>("occupant");
        QTest::newRow("instance that answers") << "instance";
        QTest::newRow("server that never answers") << "silent";
        QTest::newRow("socket of another owner") << "foreign";
        QTest::newRow("eight starts, free name") << "";
        QTest::newRow("eight starts, stale socket") << "killed";
    }

    void one_listener_keeps_the_name() {
        QFETCH(QString, occupant);
        bool const taken = occupant.isEmpty() || occupant == "killed";
        bool const running = occupant == "instance"; // what a probe finds before they start
        if (occupant == "foreign" && ::geteuid() != 0) {
            QSKIP("needs root to hand a socket to another user");
        }
        kelvra::testing::isolated_home home;
        QString const path = home.runtime_dir() + "/KelvraCommunicationServer";
        instance first;
        QLocalServer stand_in; // accepts and never answers
        stand_in.setSocketOptions(QLocalServer::UserAccessOption);
        if (occupant == "instance" || occupant == "killed") {
            QVERIFY(first.launch());
        } else if (!occupant.isEmpty()) {
            QVERIFY(stand_in.listen(path));
        }
        if (occupant == "foreign") {
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
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
        std::vector<instance> racers(taken ? 8 : 1);
        for (auto& racer : racers) {
            QVERIFY(racer.launch({"--on-go"}));
        }
        for (auto& racer : racers) {
            racer.write("go\n");
        }
        int listening = 0;
        for (auto& racer : racers) {
            if (racer.listens()) {
                ++listening;
                QCOMPARE(racer.path, path);
            } else {
                QCOMPARE(racer.exitCode(), 2);
                QVERIFY(racer.readAllStandardError().contains("start listen error"));
            }
        }
        QCOMPARE(listening, taken ? 1 : 0);
        QCOMPARE(communication::probe_is_running(), taken || running);
        QVERIFY(taken || stat_of(path).st_ino == inode);
        if (occupant == "foreign") {
            QCoreApplication::processEvents();
            QVERIFY(!stand_in.hasPendingConnections());
        }
    }
};

QTEST_GUILESS_MAIN(tst_communication)
#include "tst_communication.moc"
