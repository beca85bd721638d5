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
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace services = kelvra::protocol::services;
namespace result = brano::core::v6::result;

namespace {

constexpr uid_t other_uid = 65534;
constexpr int start_timeout_ms = 30000;

QByteArray hex(char const* digits) {
    return QByteArray::fromHex(digits);
}

// QDataStream's form of a text: its byte count, then UTF-16 big-endian.
QByteArray text(QString const& value) {
    QByteArray bytes = hex("00000000");
    quint32 const size = static_cast<quint32>(value.size()) * 2;
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(size >> (24 - 8 * i));
    }
    for (QChar const c : value) {
        bytes.append(static_cast<char>(c.unicode() >> 8));
        bytes.append(static_cast<char>(c.unicode() & 0xff));
    }
    return bytes;
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

bool running_as_root() {
    return ::geteuid() == 0;
}

bool has_setpriv() {
    return !QStandardPaths::findExecutable("setpriv").isEmpty();
}

QFileInfo fresh_info(QString const& path) {
    QFileInfo info(path);
    info.setCaching(false);
    return info;
}

ino_t inode_of(QString const& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

mode_t mode_of(QString const& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Waits, running the event loop, until `done` holds or `timeout_ms` passed.
template <class Condition> bool wait_until(Condition done, int timeout_ms) {
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

// A child program read line by line. It is ended (input closed, then killed
// if it lingers) when the object goes.
class child {
public:
    explicit child(
        QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment(),
        QStringList wrapper = {})
        : wrapper_(std::move(wrapper)) {
        process_.setProcessEnvironment(environment);
    }

    ~child() {
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            if (!process_.waitForFinished(10000)) {
                process_.kill();
                process_.waitForFinished(10000);
            }
        }
    }

    child(child const&) = delete;
    child& operator=(child const&) = delete;

    void start(QString const& program, QStringList const& arguments) {
        if (wrapper_.isEmpty()) {
            process_.start(program, arguments);
        } else {
            process_.start(wrapper_.first(), wrapper_.mid(1) + QStringList{program} + arguments);
        }
    }

    QList<QByteArray> lines() {
        collect();
        QList<QByteArray> result = out_.split('\n');
        result.removeLast(); // the unfinished line, or the empty rest
        return result;
    }

    // The first line that starts with one of `prefixes`, waiting for it.
    std::optional<QByteArray> wait_for_line(QList<QByteArray> const& prefixes,
                                            int timeout_ms = start_timeout_ms) {
        std::optional<QByteArray> found;
        wait_until(
            [&] {
                for (auto const& line : lines()) {
                    for (auto const& prefix : prefixes) {
                        if (line.startsWith(prefix)) {
                            found = line;
                            return true;
                        }
                    }
                }
                return process_.state() == QProcess::NotRunning && !process_.bytesAvailable();
            },
            timeout_ms);
        return found;
    }

    bool has_line(QByteArray const& line) { return lines().contains(line); }

    bool wait_for_exit(int timeout_ms = start_timeout_ms) {
        bool const ended =
            wait_until([&] { return process_.state() == QProcess::NotRunning; }, timeout_ms);
        collect();
        return ended;
    }

    // Closes the child's input (the instance harness then ends) and waits.
    bool finish() {
        process_.closeWriteChannel();
        return wait_for_exit();
    }

    QByteArray error_output() {
        collect();
        return err_;
    }

    QProcess& process() { return process_; }

private:
    void collect() {
        out_ += process_.readAllStandardOutput();
        err_ += process_.readAllStandardError();
    }

    QStringList wrapper_;
    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};

// The program's own server in a process of its own.
class instance : public child {
public:
    using child::child;

    // Starts it and tells whether it listens.
    bool launch() {
        start(QStringLiteral(KELVRA_INSTANCE_HARNESS), {});
        auto const line = wait_for_line({"listening ", "not listening"});
        if (line && line->startsWith("listening ")) {
            path_ = QString::fromUtf8(line->mid(int(qstrlen("listening "))));
            return true;
        }
        return false;
    }

    QString path() const { return path_; }

private:
    QString path_;
};

// One run of the client harness; returns its output lines.
struct client_run {
    QList<QByteArray> lines;
    QByteArray errors;
    qint64 elapsed_ms = -1;
    bool ended = false;
};

client_run
run_client(QStringList const& arguments,
           QProcessEnvironment const& environment = QProcessEnvironment::systemEnvironment(),
           QStringList const& wrapper = {}) {
    child process(environment, wrapper);
    process.start(QStringLiteral(KELVRA_CLIENT_HARNESS), arguments);
    client_run run;
    run.ended = process.wait_for_exit();
    run.lines = process.lines();
    run.errors = process.error_output();
    if (!run.lines.isEmpty() && run.lines.last().startsWith("elapsed_ms ")) {
        run.elapsed_ms = run.lines.takeLast().mid(int(qstrlen("elapsed_ms "))).toLongLong();
    }
    return run;
}

QString default_socket_path(kelvra::testing::isolated_home const& home) {
    return QDir(home.runtime_dir()).filePath(QStringLiteral("KelvraCommunicationServer"));
}

// A stand-in instance inside the test process: it answers every request
// with `reply`, or says nothing when `reply` is empty.
class scripted_server : public QObject {
public:
    scripted_server(QString const& path, QByteArray reply) : reply_(std::move(reply)) {
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        listening_ = server_.listen(path);
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) {
                ++connections_;
                connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    socket->readAll();
                    if (!reply_.isEmpty()) {
                        socket->write(reply_);
                    }
                });
            }
        });
    }

    bool listening() const { return listening_; }
    int connections() const { return connections_; }

private:
    QLocalServer server_;
    QByteArray reply_;
    bool listening_ = false;
    int connections_ = 0;
};

// A socket that listens but never accepts: the kernel completes connections
// into its backlog and nobody ever reads them.
class deaf_listener {
public:
    explicit deaf_listener(QString const& path) : path_(QFile::encodeName(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path_.constData(), sizeof address.sun_path);
        listening_ = fd_ >= 0 &&
                     ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::chmod(path_.constData(), 0700) == 0 && ::listen(fd_, 8) == 0;
    }
    ~deaf_listener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        ::unlink(path_.constData());
    }
    deaf_listener(deaf_listener const&) = delete;
    deaf_listener& operator=(deaf_listener const&) = delete;

    bool listening() const { return listening_; }

private:
    QByteArray path_;
    int fd_ = -1;
    bool listening_ = false;
};

// A raw client in the test process: connects, writes, and collects what
// comes back within `wait_ms` (or until `expected_size` bytes came).
class raw_client {
public:
    bool connect_to(QString const& path) {
        socket_.connectToServer(path);
        return socket_.waitForConnected(5000);
    }

    void send(QByteArray const& bytes) {
        socket_.write(bytes);
        socket_.flush();
    }

    QByteArray receive(int wait_ms, int expected_size = -1) {
        wait_until(
            [&] {
                received_ += socket_.readAll();
                return expected_size >= 0 && received_.size() >= expected_size;
            },
            wait_ms);
        received_ += socket_.readAll();
        return std::exchange(received_, {});
    }

    QLocalSocket& socket() { return socket_; }

private:
    QLocalSocket socket_;
    QByteArray received_;
};

// A folder that another user can enter but not list: the parent of folders
// handed to that user.
std::unique_ptr<QTemporaryDir> traversable_folder() {
    auto folder = std::make_unique<QTemporaryDir>();
    if (!folder->isValid() || ::chmod(QFile::encodeName(folder->path()).constData(), 0711) != 0) {
        return nullptr;
    }
    return folder;
}

// A runtime folder owned by `owner`, mode 0700, inside `parent`.
QString runtime_folder_for(QTemporaryDir const& parent, QString const& name, uid_t owner) {
    QString const path = parent.filePath(name);
    QByteArray const encoded = QFile::encodeName(path);
    if (!QDir().mkpath(path) || ::chmod(encoded.constData(), 0700) != 0 ||
        ::chown(encoded.constData(), owner, owner) != 0) {
        return {};
    }
    return path;
}

QProcessEnvironment with_runtime_folder(QString const& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    return environment;
}

QStringList as_other_user() {
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(other_uid),
            QStringLiteral("--regid=%1").arg(other_uid), QStringLiteral("--clear-groups"),
            QStringLiteral("--")};
}

} // namespace

class tst_communication : public QObject {
    Q_OBJECT

private slots:
    // --- The bytes of every message -------------------------------------

    void message_bytes_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("is_running request")
            << services::encode(services::is_running::request{}) << hex("00000002");
        QTest::newRow("open_application request")
            << services::encode(services::open_application::request{}) << hex("00000003");
        QTest::newRow("open_connection request")
            << services::encode(services::open_connection::request{"Vendas"})
            << hex("00000004 0000000c 0056 0065 006e 0064 0061 0073");
        QTest::newRow("open_connection request, accented name")
            << services::encode(services::open_connection::request{"Produção"})
            << hex("00000004 00000010 0050 0072 006f 0064 0075 00e7 00e3 006f");
        QTest::newRow("open_connection request, empty name")
            << services::encode(services::open_connection::request{QStringLiteral("")})
            << hex("00000004 00000000");
        QTest::newRow("open_connection request, null name")
            << services::encode(services::open_connection::request{QString()})
            << hex("00000004 00000000");
        QTest::newRow("is_running response, true")
            << services::encode(services::is_running::response{true}) << hex("00000002 01");
        QTest::newRow("is_running response, false")
            << services::encode(services::is_running::response{false}) << hex("00000002 00");
        QTest::newRow("open_application response")
            << services::encode(services::open_application::response{}) << hex("00000003");
        QTest::newRow("open_connection response")
            << services::encode(services::open_connection::response{}) << hex("00000004");

        // Arguments attached as "path" then "campo" go out ordered by name.
        result::stack status;
        status.push_item(kelvra::status::config_category::instance(), 2);
        status.push_item(kelvra::status::load_session_category::instance(), 12)
            .set_argument("path", "/s/1.json")
            .set_argument("campo", "nome");
        QTest::newRow("failure response")
            << services::encode(services::failure{services::error_entries(status)})
            << two_entry_failure(true);
        QTest::newRow("failure response without entries")
            << services::encode(services::failure{}) << hex("00000001 00000000");
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

        QTest::newRow("request: empty") << "request" << QByteArray();
        QTest::newRow("request: tag cut short") << "request" << hex("000000");
        QTest::newRow("request: unknown tag") << "request" << hex("00000007");
        QTest::newRow("request: failure tag") << "request" << hex("00000001 00000000");
        QTest::newRow("request: negative tag") << "request" << hex("ffffffff");
        QTest::newRow("request: name missing") << "request" << hex("00000004");
        QTest::newRow("request: name cut short") << "request" << hex("00000004 0000000c 0056");
        QTest::newRow("request: odd byte count") << "request" << hex("00000004 00000003 005600");
        QTest::newRow("request: huge name length") << "request" << hex("00000004 7ffffffe 0056");

        QTest::newRow("is_running reply: empty") << "is_running" << QByteArray();
        QTest::newRow("is_running reply: answer missing") << "is_running" << hex("00000002");
        QTest::newRow("reply: failure without count") << "reply" << hex("00000001");
        QTest::newRow("reply: negative entry count") << "reply" << hex("00000001 ffffffff");
        QTest::newRow("reply: huge entry count") << "reply" << hex("00000001 7fffffff");
        QTest::newRow("reply: fewer entries than counted")
            << "reply" << hex("00000001 00000002") + text("a") + text("b") + hex("00000000");
        QTest::newRow("reply: negative argument count")
            << "reply" << hex("00000001 00000001") + text("a") + text("b") + hex("ffffffff");
        QTest::newRow("reply: argument value missing")
            << "reply"
            << hex("00000001 00000001") + text("a") + text("b") + hex("00000001") + text("path");
        QTest::newRow("reply: huge text length")
            << "reply" << hex("00000001 00000001 7ffffffe 0041");
    }

    void malformed_messages_are_rejected() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        if (kind == "request") {
            QVERIFY(!services::decode_request(bytes));
        } else if (kind == "is_running") {
            QVERIFY(!services::decode_is_running_reply(bytes));
        } else {
            QVERIFY(!services::decode_is_running_reply(bytes));
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
        QCOMPARE(spy.count(), 0);
        QVERIFY(spy.wait(5000));
        auto const received = spy.at(0).at(0).value<result::stack>();
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(QByteArray(received.begin()->get_category().name()), QByteArray("kelvra-config"));
        QCOMPARE(*received.begin()->find_argument("path"), std::string("/etc/x"));
    }

    // --- The running instance, driven with hand-made bytes ----------------

    void instance_answers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
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
        QTest::newRow("failure tag") << hex("00000001 00000000") << QByteArray() << QByteArray();
        QTest::newRow("open_connection cut short")
            << hex("00000004 0000000c 0056 0065") << QByteArray() << QByteArray();
        QTest::newRow("tag cut short") << hex("0000") << QByteArray() << QByteArray();
    }

    void instance_answers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, signal_line);
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        QCOMPARE(server.path(), default_socket_path(home));

        raw_client client;
        QVERIFY(client.connect_to(server.path()));
        client.send(request);
        // Without an answer, wait past the server's own 1000 ms.
        QByteArray const received = client.receive(reply.isEmpty() ? 1300 : 10000, reply.size());
        QCOMPARE(received.toHex(' '), reply.toHex(' '));

        // Whatever came before, the instance still answers.
        raw_client next;
        QVERIFY(next.connect_to(server.path()));
        next.send(hex("00000002"));
        QCOMPARE(next.receive(10000, 5).toHex(), hex("00000002 01").toHex());

        QVERIFY(server.finish());
        QCOMPARE(server.process().exitCode(), 0);
        QList<QByteArray> expected{"listening " + server.path().toUtf8()};
        if (!signal_line.isEmpty()) {
            expected << signal_line;
        }
        QCOMPARE(server.lines(), expected);
        // The socket goes with the instance that ends normally.
        QVERIFY(!fresh_info(server.path()).exists());
    }

    void one_request_per_connection_data() {
        QTest::addColumn<bool>("together");
        QTest::newRow("two requests in one write") << true;
        QTest::newRow("second request after the reply") << false;
    }

    void one_request_per_connection() {
        QFETCH(bool, together);
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        raw_client client;
        QVERIFY(client.connect_to(server.path()));
        if (together) {
            client.send(hex("00000002 00000003"));
        } else {
            client.send(hex("00000002"));
            QCOMPARE(client.receive(10000, 5).toHex(), hex("00000002 01").toHex());
            client.send(hex("00000003"));
        }
        QByteArray const rest = client.receive(1300);
        QCOMPARE(rest.toHex(), together ? hex("00000002 01").toHex() : QByteArray());
        QVERIFY(server.finish());
        QVERIFY(!server.lines().contains("open_application"));
    }

    // A client that connects and says nothing holds up nobody: others are
    // served while the instance waits for it, and after 1000 ms it is told
    // "timeout" and let go.
    void silent_client_holds_up_nobody() {
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        raw_client silent;
        QVERIFY(silent.connect_to(server.path()));
        QSignalSpy let_go(&silent.socket(), &QLocalSocket::disconnected);

        raw_client other;
        QVERIFY(other.connect_to(server.path()));
        other.send(hex("00000003"));
        QCOMPARE(other.receive(10000, 4).toHex(), hex("00000003").toHex());
        QCoreApplication::processEvents();
        QCOMPARE(let_go.count(), 0);
        QCOMPARE(silent.socket().state(), QLocalSocket::ConnectedState);

        QVERIFY(let_go.count() > 0 || let_go.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(server.error_output().contains("kelvra.communication: timeout"),
                                 10000);
        QVERIFY(server.has_line("open_application"));
    }

    // --- A second start against the running instance ---------------------

    void second_start_reaches_instance_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("client_line");
        QTest::addColumn<QByteArray>("signal_line");

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
    }

    void second_start_reaches_instance() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, client_line);
        QFETCH(QByteArray, signal_line);
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        client_run const run = run_client(arguments);
        QVERIFY(run.ended);
        QCOMPARE(run.lines, QList<QByteArray>{client_line});
        QVERIFY(server.finish());
        QList<QByteArray> expected{"listening " + server.path().toUtf8()};
        if (!signal_line.isEmpty()) {
            expected << signal_line;
        }
        QCOMPARE(server.lines(), expected);
    }

    void unanswered_request_gives_up_after_1000_ms() {
        kelvra::testing::isolated_home home;
        instance server;
        QVERIFY(server.launch());
        client_run const run = run_client({"exchange", "00000007"});
        QCOMPARE(run.lines, QList<QByteArray>{"no reply"});
        QVERIFY2(run.elapsed_ms >= 900 && run.elapsed_ms < 2500,
                 QByteArray::number(run.elapsed_ms));
        QVERIFY(run.errors.contains("kelvra.communication: timeout"));
    }

    void replies_as_the_client_reads_them_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("client_line");
        QTest::addColumn<QByteArray>("logged");

        QTest::newRow("running") << hex("00000002 01") << QByteArray("running true")
                                 << QByteArray();
        QTest::newRow("not running")
            << hex("00000002 00") << QByteArray("running false") << QByteArray();
        QTest::newRow("tag 3 counts as success with false")
            << hex("00000003") << QByteArray("running false") << QByteArray();
        QTest::newRow("answer cut short")
            << hex("00000002") << QByteArray("no answer") << QByteArray("malformed reply");
        QTest::newRow("failure, every entry logged")
            << two_entry_failure(false) << QByteArray("no answer")
            << QString("kelvra.communication: kelvra-config O arquivo não foi encontrado\n"
                       "kelvra.communication: kelvra-load-session Ocorreu um erro ao manipular "
                       "o arquivo referente à sessão\n")
                   .toUtf8();
    }

    void replies_as_the_client_reads_them() {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, client_line);
        QFETCH(QByteArray, logged);
        kelvra::testing::isolated_home home;
        scripted_server server(default_socket_path(home), reply);
        QVERIFY(server.listening());
        client_run const run = run_client({"probe"});
        QCOMPARE(run.lines, QList<QByteArray>{client_line});
        QVERIFY2(run.errors.contains(logged), run.errors.constData());
    }

    void failure_entries_decode_ordered_by_name() {
        kelvra::testing::isolated_home home;
        scripted_server server(default_socket_path(home), two_entry_failure(false));
        QVERIFY(server.listening());
        client_run const run = run_client({"is-running-reply"});
        QList<QByteArray> const expected{
            "failure",
            "entry kelvra-config|O arquivo não foi encontrado",
            "entry kelvra-load-session|Ocorreu um erro ao manipular o arquivo referente à sessão",
            "argument campo=nome",
            "argument path=/s/1.json",
        };
        QCOMPARE(run.lines, expected);
    }

    // --- Who owns the name ------------------------------------------------

    // Whatever listens under the name keeps it: an instance that answers,
    // one that accepts and never answers, one that never even accepts. The
    // client gives up on the silent ones within its bounds, and a start that
    // then tries to become the instance leaves the name alone.
    void existing_listener_keeps_the_name_data() {
        QTest::addColumn<QString>("occupant");
        QTest::addColumn<QByteArray>("client_line");
        QTest::newRow("instance that answers") << "instance" << QByteArray("running true");
        QTest::newRow("server that never answers") << "silent" << QByteArray("no answer");
        QTest::newRow("listener that never accepts") << "deaf" << QByteArray("no answer");
    }

    void existing_listener_keeps_the_name() {
        QFETCH(QString, occupant);
        QFETCH(QByteArray, client_line);
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        instance first;
        std::unique_ptr<scripted_server> silent;
        std::unique_ptr<deaf_listener> deaf;
        if (occupant == "instance") {
            QVERIFY(first.launch());
        } else if (occupant == "silent") {
            silent = std::make_unique<scripted_server>(path, QByteArray());
            QVERIFY(silent->listening());
        } else {
            deaf = std::make_unique<deaf_listener>(path);
            QVERIFY(deaf->listening());
        }
        ino_t const inode = inode_of(path);
        QVERIFY(inode != 0);

        client_run const run = run_client({"probe"});
        QCOMPARE(run.lines, QList<QByteArray>{client_line});
        QVERIFY2(run.elapsed_ms >= 0 && run.elapsed_ms < 2500, QByteArray::number(run.elapsed_ms));
        if (occupant != "instance") {
            QVERIFY(run.elapsed_ms >= 900);
            QVERIFY(run.errors.contains("kelvra.communication: timeout"));
        }

        instance second;
        QVERIFY(!second.launch());
        QVERIFY(second.wait_for_exit());
        QCOMPARE(second.process().exitCode(), 2);
        QVERIFY(second.error_output().contains("start listen error"));
        QCOMPARE(inode_of(path), inode);
        if (occupant == "instance") {
            QCOMPARE(run_client({"open-application"}).lines, QList<QByteArray>{"acknowledged"});
            QVERIFY(first.finish());
            QVERIFY(first.lines().contains("open_application"));
        }
    }

    // An instance that was killed leaves its socket behind; the next start
    // finds its connections refused, removes it and listens in its place.
    // A lock file left by a start that died while taking the name does not
    // stop it either.
    void stale_socket_is_taken_over() {
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        {
            instance killed;
            QVERIFY(killed.launch());
            qint64 const pid = killed.process().processId();
            killed.process().kill();
            QVERIFY(killed.wait_for_exit());
            QFile lock(path + ".lock");
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(pid) + "\ncommunication_instance\n" +
                       QSysInfo::machineHostName().toUtf8() + "\n");
        }
        QVERIFY(fresh_info(path).exists());
        QCOMPARE(run_client({"probe"}).lines, QList<QByteArray>{"no answer"});

        instance next;
        QVERIFY(next.launch());
        QCOMPARE(next.path(), path);
        QCOMPARE(run_client({"probe"}).lines, QList<QByteArray>{"running true"});
        QCOMPARE(run_client({"open-application"}).lines, QList<QByteArray>{"acknowledged"});
        QVERIFY(next.finish());
        QVERIFY(next.lines().contains("open_application"));
    }

    // Starts that race for the name end with one listener, also when they
    // all find a stale socket to take over.
    void racing_starts_leave_one_listener_data() {
        QTest::addColumn<bool>("stale");
        QTest::newRow("free name") << false;
        QTest::newRow("stale socket") << true;
    }

    void racing_starts_leave_one_listener() {
        QFETCH(bool, stale);
        kelvra::testing::isolated_home home;
        if (stale) {
            instance killed;
            QVERIFY(killed.launch());
            killed.process().kill();
            QVERIFY(killed.wait_for_exit());
            QVERIFY(fresh_info(default_socket_path(home)).exists());
        }
        constexpr int starts = 8;
        std::vector<std::unique_ptr<instance>> racers;
        for (int i = 0; i < starts; ++i) {
            racers.push_back(std::make_unique<instance>());
            racers.back()->start(QStringLiteral(KELVRA_INSTANCE_HARNESS), {"--on-go"});
        }
        for (auto& racer : racers) {
            QVERIFY(racer->wait_for_line({"ready"}));
        }
        for (auto& racer : racers) {
            racer->process().write("go\n");
        }
        int listening = 0;
        for (auto& racer : racers) {
            auto const line = racer->wait_for_line({"listening ", "not listening"});
            QVERIFY(line);
            listening += line->startsWith("listening ") ? 1 : 0;
        }
        QCOMPARE(listening, 1);
        QCOMPARE(run_client({"probe"}).lines, QList<QByteArray>{"running true"});
    }

    // --- One instance per user --------------------------------------------

    // Two runtime folders, as two users have: each start finds its own
    // instance.
    void instance_per_runtime_folder() {
        kelvra::testing::isolated_home home;
        QTemporaryDir other_runtime;
        QVERIFY(other_runtime.isValid());
        QProcessEnvironment const other = with_runtime_folder(other_runtime.path());

        instance mine;
        QVERIFY(mine.launch());
        instance theirs(other);
        QVERIFY(theirs.launch());
        QVERIFY(mine.path() != theirs.path());
        // Each socket admits its own user only.
        QCOMPARE(mode_of(mine.path()) & 077, mode_t{0});
        QCOMPARE(fresh_info(mine.path()).ownerId(), uint(::geteuid()));

        QCOMPARE(run_client({"open-connection", "Vendas"}, other).lines,
                 QList<QByteArray>{"acknowledged"});
        QVERIFY(theirs.finish());
        QVERIFY(mine.finish());
        QVERIFY(theirs.lines().contains("open_connection [Vendas]"));
        QVERIFY(!mine.lines().contains("open_connection [Vendas]"));
    }

    // Without XDG_RUNTIME_DIR the socket lives in a private folder of the
    // user's (mode 0700), under the temporary folder; the socket itself is
    // for its user only.
    void private_folder_without_runtime_variable() {
        kelvra::testing::isolated_home home;
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), temporary.path());

        instance server(environment);
        QVERIFY(server.launch());
        QString const folder = QFileInfo(server.path()).path();
        QVERIFY2(folder.startsWith(temporary.path() + "/runtime-"), qPrintable(folder));
        QCOMPARE(QFileInfo(server.path()).fileName(), QString("KelvraCommunicationServer"));
        QCOMPARE(mode_of(folder), mode_t{0700});
        QCOMPARE(fresh_info(folder).ownerId(), uint(::geteuid()));
        QCOMPARE(mode_of(server.path()) & 077, mode_t{0});
        QCOMPARE(run_client({"probe"}, environment).lines, QList<QByteArray>{"running true"});
    }

    // A runtime folder that belongs to someone else (XDG_RUNTIME_DIR
    // pointing at another user's folder) is not used: Qt falls back to the
    // user's private folder under the temporary folder, and the two starts
    // meet there.
    void runtime_folder_of_another_user_is_not_used() {
        if (!running_as_root()) {
            QSKIP("needs root to give a folder to another user");
        }
        kelvra::testing::isolated_home home;
        auto const parent = traversable_folder();
        QVERIFY(parent);
        QString const folder = runtime_folder_for(*parent, "runtime", other_uid);
        QVERIFY(!folder.isEmpty());
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        QProcessEnvironment environment = with_runtime_folder(folder);
        environment.insert(QStringLiteral("TMPDIR"), temporary.path());

        instance server(environment);
        QVERIFY(server.launch());
        QVERIFY2(server.path().startsWith(temporary.path() + "/runtime-"),
                 qPrintable(server.path()));
        QCOMPARE(run_client({"probe"}, environment).lines, QList<QByteArray>{"running true"});
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList());
    }

    // The private fallback folder is a name in a shared folder that another
    // user can take first. Then there is no exchange at all: neither a
    // socket in their folder nor one elsewhere in the shared folder.
    void private_folder_taken_by_another_user_is_refused() {
        if (!running_as_root()) {
            QSKIP("needs root to give a folder to another user");
        }
        kelvra::testing::isolated_home home;
        auto const temporary = traversable_folder();
        QVERIFY(temporary);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), temporary->path());
        passwd const* const user = ::getpwuid(::geteuid());
        QVERIFY(user);
        QString const user_name = QString::fromLocal8Bit(user->pw_name);
        QString const taken = runtime_folder_for(*temporary, "runtime-" + user_name, other_uid);
        QVERIFY(!taken.isEmpty());

        instance server(environment);
        QVERIFY(!server.launch());
        QVERIFY(server.wait_for_exit());
        QVERIFY(server.error_output().contains("start listen error"));
        QCOMPARE(run_client({"probe"}, environment).lines, QList<QByteArray>{"no answer"});
        QCOMPARE(QDir(temporary->path())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{"runtime-" + user_name});
        QCOMPARE(QDir(taken).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList());
    }

    // A socket of another owner under the name is not used: no request
    // reaches it and no start replaces it.
    void socket_of_another_owner_is_not_used() {
        if (!running_as_root()) {
            QSKIP("needs root to hand a socket to another user");
        }
        kelvra::testing::isolated_home home;
        QString const path = default_socket_path(home);
        scripted_server foreign(path, hex("00000002 01"));
        QVERIFY(foreign.listening());
        QCOMPARE(::chown(QFile::encodeName(path).constData(), other_uid, other_uid), 0);

        client_run const run = run_client({"probe"});
        QCOMPARE(run.lines, QList<QByteArray>{"no answer"});
        QCoreApplication::processEvents();
        QCOMPARE(foreign.connections(), 0);

        instance server;
        QVERIFY(!server.launch());
        QCOMPARE(fresh_info(path).ownerId(), uint(other_uid));
        QCoreApplication::processEvents();
        QCOMPARE(foreign.connections(), 0);
    }

    // A real second user (switched with setpriv, no account needed) has an
    // instance of their own beside ours, and cannot connect to ours even
    // through a path they can reach.
    void second_user_has_own_instance_and_cannot_reach_ours() {
        if (!running_as_root() || !has_setpriv()) {
            QSKIP("needs root and setpriv to run a process as another user");
        }
        kelvra::testing::isolated_home home;
        instance mine;
        QVERIFY(mine.launch());

        auto const parent = traversable_folder();
        QVERIFY(parent);
        QString const their_folder = runtime_folder_for(*parent, "runtime", other_uid);
        QVERIFY(!their_folder.isEmpty());
        QProcessEnvironment const theirs = with_runtime_folder(their_folder);

        // Their start finds no instance of theirs and becomes one.
        client_run const probe = run_client({"probe"}, theirs, as_other_user());
        QVERIFY2(probe.ended, probe.errors.constData());
        QCOMPARE(probe.lines, QList<QByteArray>{"no answer"});
        instance their_instance(theirs, as_other_user());
        QVERIFY2(their_instance.launch(), their_instance.error_output().constData());
        QCOMPARE(fresh_info(their_instance.path()).ownerId(), uint(other_uid));
        QCOMPARE(run_client({"open-application"}, theirs, as_other_user()).lines,
                 QList<QByteArray>{"acknowledged"});

        // Our socket linked into a folder they can enter: the kernel still
        // refuses them, while we connect through the same link.
        QString const link = parent->filePath("link");
        if (::link(QFile::encodeName(mine.path()).constData(),
                   QFile::encodeName(link).constData()) != 0) {
            QSKIP("cannot link the socket into a shared folder");
        }
        client_run const theirs_through_link =
            run_client({"connect", link}, theirs, as_other_user());
        QVERIFY(!theirs_through_link.lines.isEmpty());
        QVERIFY2(theirs_through_link.lines.first().startsWith("not connected"),
                 theirs_through_link.lines.first().constData());
        QCOMPARE(run_client({"connect", link}).lines, QList<QByteArray>{"connected"});
        ::unlink(QFile::encodeName(link).constData());

        QVERIFY(their_instance.finish());
        QVERIFY(mine.finish());
        QVERIFY(their_instance.lines().contains("open_application"));
        QVERIFY(!mine.lines().contains("open_application"));
    }
};

QTEST_GUILESS_MAIN(tst_communication)
#include "tst_communication.moc"
