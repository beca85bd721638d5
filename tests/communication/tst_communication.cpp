// The single-instance exchange: the bytes on the wire, and real processes
// talking over a real local socket. Every test has a runtime folder of its
// own, so nothing here touches the user's socket. Expected bytes are written
// out by hand, never produced with the program's encoder.
#include "communication/server.hpp"
#include "communication/services.hpp"
#include "core/status.hpp"
#include "support/test_environment.hpp"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace services = kelvra::protocol::services;
namespace result = brano::core::v6::result;
using lines = QList<QByteArray>;

namespace {

constexpr uid_t other_uid = 65534;
QDir::Filters const every_entry = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;

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

struct stat stat_of(QString const& path) {
    struct stat info {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

// Runs the event loop until `done` holds, at most 30 s.
template <class Condition> bool wait_until(Condition done, int timeout_ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

// A child program read line by line, ended (input closed, then killed if it
// lingers) when the object goes. The instance harness ends when its input
// is closed and says where it listens.
struct child {
    QProcess process;
    QByteArray out;
    QByteArray err;
    QString path;

    explicit child(
        QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment()) {
        process.setProcessEnvironment(environment);
    }
    ~child() {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    bool launch(QStringList const& arguments = {}) {
        process.start(QStringLiteral(KELVRA_INSTANCE_HARNESS), arguments);
        return arguments.isEmpty() ? listens() : bool(wait_for_line("ready"));
    }

    // Whether it says "listening PATH" (not "not listening" and exit).
    bool listens() {
        auto const line = wait_for_line("listening ");
        path = line ? QString::fromUtf8(line->mid(int(qstrlen("listening ")))) : QString();
        return bool(line);
    }

    lines output() {
        out += process.readAllStandardOutput();
        lines result = out.split('\n');
        result.removeLast(); // the unfinished line, or the empty rest
        return result;
    }

    QByteArray errors() { return err += process.readAllStandardError(); }

    // The first line that starts with `prefix`, unless the child ends first.
    std::optional<QByteArray> wait_for_line(QByteArray const& prefix) {
        std::optional<QByteArray> found;
        wait_until([&] {
            for (auto const& line : output()) {
                if (line.startsWith(prefix)) {
                    found = line;
                    return true;
                }
            }
            return process.state() == QProcess::NotRunning;
        });
        return found;
    }

    bool finish() {
        process.closeWriteChannel();
        return wait_until([&] { return process.state() == QProcess::NotRunning; });
    }
};

// One run of the client harness: its output lines, its debug lines and how
// long its exchange took.
struct client_run {
    lines output;
    QByteArray errors;
    qint64 elapsed_ms = -1;
};

client_run
run_client(QStringList const& arguments,
           QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment()) {
    child client(environment);
    client.process.start(QStringLiteral(KELVRA_CLIENT_HARNESS), arguments);
    client.finish();
    client_run run{client.output(), client.errors()};
    if (!run.output.isEmpty() && run.output.last().startsWith("elapsed_ms ")) {
        run.elapsed_ms = run.output.takeLast().mid(int(qstrlen("elapsed_ms "))).toLongLong();
    }
    return run;
}

QString default_socket_path(kelvra::testing::isolated_home const& home) {
    return QDir(home.runtime_dir()).filePath(QStringLiteral("KelvraCommunicationServer"));
}

// A stand-in instance inside the test process: it answers every request
// with `reply` (nothing when that is empty) and counts its connections.
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

// In hex, what arrives on `socket` within `wait_ms`, or once `size` bytes came.
QByteArray receive(QLocalSocket& socket, int wait_ms, int size = -1) {
    QByteArray received;
    wait_until(
        [&] {
            received += socket.readAll();
            return size >= 0 && received.size() >= size;
        },
        wait_ms);
    return (received + socket.readAll()).toHex(' ');
}

// A folder of `owner`, mode 0700, inside `parent`.
QString folder_for(QTemporaryDir const& parent, QString const& name, uid_t owner) {
    QString const path = parent.filePath(name);
    QByteArray const encoded = QFile::encodeName(path);
    bool const made = QDir().mkpath(path) && ::chmod(encoded.constData(), 0700) == 0 &&
                      ::chown(encoded.constData(), owner, owner) == 0;
    return made ? path : QString();
}

} // namespace

class tst_communication : public QObject {
    Q_OBJECT

private slots:
    // --- The bytes of every message -------------------------------------

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

    // The one signal that carries a value is declared with the stack's
    // short name, which Qt must know to queue it or to spy on it.
    void server_error_can_be_queued() {
        auto& server = kelvra::communication::server::instance();
        QSignalSpy spy(&server, &kelvra::communication::server::server_error);
        QVERIFY(spy.isValid());
        result::stack status;
        status.push_item(kelvra::status::config_category::instance(), 3)
            .set_argument("path", "/etc/x");
        QVERIFY(QMetaObject::invokeMethod(&server, "server_error", Qt::QueuedConnection,
                                          Q_ARG(brano::core::result::stack, status)));
        QVERIFY(spy.wait(5000));
        auto const received = spy.at(0).at(0).value<result::stack>();
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(QByteArray(received.begin()->get_category().name()), QByteArray("kelvra-config"));
        QCOMPARE(*received.begin()->find_argument("path"), std::string("/etc/x"));
    }

    // --- A second start against the running instance ---------------------

    // Each request from a second start, by the program's own client or as
    // hand-made bytes: the reply it gets and the signal the instance emits.
    // A request the instance does not understand goes unanswered, and the
    // client gives up after its 1000 ms; the instance still answers the next.
    void instance_serves_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("client_line");
        QTest::addColumn<QByteArray>("signal_line");
        auto const bytes = [](QByteArray const& request) {
            return QStringList{"exchange", QString::fromLatin1(request.toHex())};
        };
        QTest::newRow("is_running")
            << QStringList{"probe"} << QByteArray("running true") << QByteArray();
        QTest::newRow("open_application")
            << QStringList{"open-application"} << QByteArray("acknowledged")
            << QByteArray("open_application");
        QTest::newRow("open_connection")
            << QStringList{"open-connection", "Vendas"} << QByteArray("acknowledged")
            << QByteArray("open_connection [Vendas]");
        QTest::newRow("open_connection, empty name")
            << QStringList{"open-connection", ""} << QByteArray("acknowledged")
            << QByteArray("open_connection []");
        QTest::newRow("bytes: open_connection, accented name")
            << bytes(hex("00000004") + text("Produção")) << QByteArray("reply 00000004")
            << QString("open_connection [Produção]").toUtf8();
        QTest::newRow("bytes: open_connection, null name")
            << bytes(hex("00000004 ffffffff")) << QByteArray("reply 00000004")
            << QByteArray("open_connection []");
        QTest::newRow("bytes: unknown tag 7")
            << bytes(hex("00000007")) << QByteArray("no reply") << QByteArray();
    }

    void instance_serves() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, client_line);
        QFETCH(QByteArray, signal_line);
        kelvra::testing::isolated_home home;
        child server;
        QVERIFY(server.launch());
        QCOMPARE(server.path, default_socket_path(home));

        client_run const run = run_client(arguments);
        QCOMPARE(run.output, lines{client_line});
        if (client_line == "no reply") {
            QVERIFY2(run.elapsed_ms >= 900 && run.elapsed_ms < 2500,
                     QByteArray::number(run.elapsed_ms));
            QVERIFY(run.errors.contains("kelvra.communication: timeout"));
        }
        QCOMPARE(run_client({"probe"}).output, lines{"running true"});

        QVERIFY(server.finish());
        QCOMPARE(server.process.exitCode(), 0);
        lines expected{"listening " + server.path.toUtf8()};
        if (!signal_line.isEmpty()) {
            expected << signal_line;
        }
        QCOMPARE(server.output(), expected);
        // The socket goes with the instance that ends normally.
        QVERIFY(!QFileInfo::exists(server.path));
    }

    // Raw connections to a running instance. One that connects and says
    // nothing holds up nobody: others are served while the instance waits
    // for it, and after 1000 ms it is told "timeout" and let go. Only the
    // first request on a connection is answered, whether the second comes
    // in the same write or after the reply.
    void raw_connections() {
        kelvra::testing::isolated_home home;
        child server;
        QVERIFY(server.launch());
        QLocalSocket silent;
        QVERIFY(connect_to(silent, server.path));
        QSignalSpy let_go(&silent, &QLocalSocket::disconnected);

        QLocalSocket together;
        QVERIFY(connect_to(together, server.path));
        together.write(hex("00000002 00000003"));
        QCOMPARE(receive(together, 10000, 5), QByteArray("00 00 00 02 01"));
        QCoreApplication::processEvents();
        QCOMPARE(let_go.count(), 0);
        QCOMPARE(silent.state(), QLocalSocket::ConnectedState);
        QCOMPARE(receive(together, 1300), QByteArray());

        QLocalSocket after;
        QVERIFY(connect_to(after, server.path));
        after.write(hex("00000002"));
        QCOMPARE(receive(after, 10000, 5), QByteArray("00 00 00 02 01"));
        after.write(hex("00000003"));
        QCOMPARE(receive(after, 1300), QByteArray());

        QVERIFY(let_go.count() > 0 || let_go.wait(10000));
        QVERIFY(server.finish());
        QVERIFY(server.errors().contains("kelvra.communication: timeout"));
        QVERIFY(!server.output().contains("open_application"));
    }

    // How the client reads what comes back to is_running: a reply with tag 3
    // counts as success with false; a failure is logged entry by entry and
    // decodes to its entries, arguments ordered by name.
    void replies_as_the_client_reads_them_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<lines>("client_lines");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("not running")
            << "probe" << hex("00000002 00") << lines{"running false"} << QByteArray();
        QTest::newRow("tag 3 counts as success with false")
            << "probe" << hex("00000003") << lines{"running false"} << QByteArray();
        QTest::newRow("answer cut short")
            << "probe" << hex("00000002") << lines{"no answer"} << QByteArray("malformed reply");
        QTest::newRow("failure, every entry logged")
            << "probe" << two_entry_failure(false) << lines{"no answer"}
            << QString("kelvra.communication: kelvra-config O arquivo não foi encontrado\n"
                       "kelvra.communication: kelvra-load-session Ocorreu um erro ao manipular "
                       "o arquivo referente à sessão\n")
                   .toUtf8();
        QTest::newRow("failure entries ordered by name")
            << "is-running-reply" << two_entry_failure(false)
            << lines{"failure", "entry kelvra-config|O arquivo não foi encontrado",
                     "entry kelvra-load-session|Ocorreu um erro ao manipular o arquivo referente "
                     "à sessão",
                     "argument campo=nome", "argument path=/s/1.json"}
            << QByteArray();
    }

    void replies_as_the_client_reads_them() {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(lines, client_lines);
        QFETCH(QByteArray, logged);
        kelvra::testing::isolated_home home;
        scripted_server server(default_socket_path(home), reply);
        QVERIFY(server.server.isListening());
        client_run const run = run_client({command});
        QCOMPARE(run.output, client_lines);
        QVERIFY2(run.errors.contains(logged), run.errors.constData());
    }

    // --- Who owns the name ------------------------------------------------

    // Whatever listens under the name keeps it: an instance that answers, a
    // server that accepts and never answers (the client gives up within its
    // bounds), a socket of another owner (no request reaches it). A start
    // that then tries to become the instance leaves the socket in place,
    // which Qt's bind-and-rename would otherwise replace without a word.
    void existing_listener_keeps_the_name_data() {
        QTest::addColumn<QString>("occupant");
        QTest::addColumn<QByteArray>("client_line");
        QTest::newRow("instance that answers") << "instance" << QByteArray("running true");
        QTest::newRow("server that never answers") << "silent" << QByteArray("no answer");
        QTest::newRow("socket of another owner") << "foreign" << QByteArray("no answer");
    }

    void existing_listener_keeps_the_name() {
        QFETCH(QString, occupant);
        QFETCH(QByteArray, client_line);
        if (occupant == "foreign" && ::geteuid() != 0) {
            QSKIP("needs root to hand a socket to another user");
        }
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        child first;
        std::unique_ptr<scripted_server> stand_in;
        if (occupant == "instance") {
            QVERIFY(first.launch());
        } else {
            stand_in = std::make_unique<scripted_server>(
                path, occupant == "foreign" ? hex("00000002 01") : QByteArray());
            QVERIFY(stand_in->server.isListening());
        }
        if (occupant == "foreign") {
            QCOMPARE(::chown(QFile::encodeName(path).constData(), other_uid, other_uid), 0);
        }
        ino_t const inode = stat_of(path).st_ino;
        QVERIFY(inode != 0);

        client_run const run = run_client({"probe"});
        QCOMPARE(run.output, lines{client_line});
        QVERIFY2(run.elapsed_ms >= 0 && run.elapsed_ms < 2500, QByteArray::number(run.elapsed_ms));
        if (occupant == "silent") {
            QVERIFY(run.elapsed_ms >= 900);
            QVERIFY(run.errors.contains("kelvra.communication: timeout"));
        }

        child second;
        QVERIFY(!second.launch());
        QVERIFY(second.finish());
        QCOMPARE(second.process.exitCode(), 2);
        QVERIFY(second.errors().contains("start listen error"));
        QCOMPARE(stat_of(path).st_ino, inode);
        if (occupant == "foreign") {
            QCOMPARE(stat_of(path).st_uid, other_uid);
            QCoreApplication::processEvents();
            QCOMPARE(stand_in->connections, 0);
        }
    }

    // Starts that race for the name end with one listener. An instance that
    // was killed leaves its socket behind (here with the lock file of a
    // start that died while taking the name): its connections are refused,
    // so a start removes it and listens in its place.
    void racing_starts_leave_one_listener_data() {
        QTest::addColumn<int>("starts");
        QTest::addColumn<bool>("stale");
        QTest::newRow("one start, stale socket") << 1 << true;
        QTest::newRow("eight starts, free name") << 8 << false;
        QTest::newRow("eight starts, stale socket") << 8 << true;
    }

    void racing_starts_leave_one_listener() {
        QFETCH(int, starts);
        QFETCH(bool, stale);
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        if (stale) {
            child killed;
            QVERIFY(killed.launch());
            qint64 const pid = killed.process.processId();
            killed.process.kill();
            QVERIFY(killed.finish());
            QFile lock(path + ".lock");
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(pid) + "\ncommunication_instance\n" +
                       QSysInfo::machineHostName().toUtf8() + "\n");
            QVERIFY(QFileInfo::exists(path));
            QCOMPARE(run_client({"probe"}).output, lines{"no answer"});
        }
        // All wait at "ready" and are let go together.
        std::vector<std::unique_ptr<child>> racers;
        for (int i = 0; i < starts; ++i) {
            racers.push_back(std::make_unique<child>());
            QVERIFY(racers.back()->launch({"--on-go"}));
        }
        for (auto& racer : racers) {
            racer->process.write("go\n");
        }
        int listening = 0;
        for (auto& racer : racers) {
            if (racer->listens()) {
                ++listening;
                QCOMPARE(racer->path, path);
            }
        }
        QCOMPARE(listening, 1);
        QCOMPARE(run_client({"probe"}).output, lines{"running true"});
    }

    // --- One instance per user --------------------------------------------

    // Beside this user's instance, a start without a runtime folder (or
    // whose runtime folder is someone else's) listens in a private folder
    // under the temporary folder: folder and socket for its user only. When
    // another user took that folder's name first there is no exchange at all.
    void socket_location_data() {
        QTest::addColumn<QString>("foreign"); // the folder another user owns
        QTest::newRow("no runtime folder") << "";
        QTest::newRow("runtime folder of another user") << "runtime";
        QTest::newRow("private folder taken by another user") << "private";
    }

    void socket_location() {
        QFETCH(QString, foreign);
        if (!foreign.isEmpty() && ::geteuid() != 0) {
            QSKIP("needs root to give a folder to another user");
        }
        kelvra::testing::isolated_home home;
        child mine;
        QVERIFY(mine.launch());

        QTemporaryDir temporary; // another user can enter it, not list it
        QCOMPARE(::chmod(QFile::encodeName(temporary.path()).constData(), 0711), 0);
        passwd const* const user = ::getpwuid(::geteuid());
        QVERIFY(user);
        QString const private_name = "runtime-" + QString::fromLocal8Bit(user->pw_name);
        QString const foreign_folder =
            foreign.isEmpty()
                ? QString()
                : folder_for(temporary, foreign == "runtime" ? "runtime" : private_name, other_uid);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", temporary.path());
        environment.remove("XDG_RUNTIME_DIR");
        if (foreign == "runtime") {
            environment.insert("XDG_RUNTIME_DIR", foreign_folder);
        }
        bool const taken = foreign == "private";

        child server(environment);
        QCOMPARE(server.launch(), !taken);
        QCOMPARE(run_client({"probe"}, environment).output,
                 lines{taken ? "no answer" : "running true"});
        if (taken) {
            QVERIFY(server.finish());
            QVERIFY(server.errors().contains("start listen error"));
            QCOMPARE(QDir(temporary.path()).entryList(every_entry), QStringList{private_name});
        } else {
            QString const folder = temporary.filePath(private_name);
            QCOMPARE(server.path, folder + "/KelvraCommunicationServer");
            QCOMPARE(stat_of(folder).st_mode & 0777, mode_t{0700});
            QCOMPARE(stat_of(folder).st_uid, ::geteuid());
            QCOMPARE(stat_of(server.path).st_mode & 077, mode_t{0});
            QCOMPARE(stat_of(server.path).st_uid, ::geteuid());
        }
        if (!foreign.isEmpty()) {
            QVERIFY(!foreign_folder.isEmpty());
            QCOMPARE(QDir(foreign_folder).entryList(every_entry), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(tst_communication)
#include "tst_communication.moc"
