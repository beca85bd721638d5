// Prints `name value unit` lines. The instance and the echo server run as
// child processes of this program (the same executable, started with
// --instance PATH or --echo PATH), so every round trip crosses processes as
// a real second start does.
#include "communication/client_exchange.hpp"
#include "communication/server.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int warm_up = 50;
constexpr int rounds = 1000;

QByteArray const is_running_request = QByteArray::fromHex("00000002");

void say_ready_and_wait_for_input_end() {
    std::puts("ready");
    std::fflush(stdout);
    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
    QObject::connect(input, &QSocketNotifier::activated, [input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input->setEnabled(false);
            QCoreApplication::quit();
        }
    });
}

int run_instance(QString const& path) {
    if (!kelvra::communication::server::instance().start_listening(path)) {
        return 1;
    }
    say_ready_and_wait_for_input_end();
    int const status = QCoreApplication::exec();
    kelvra::communication::server::instance().stop_listening();
    return status;
}

// The floor: a server that sends back whatever it reads.
int run_echo(QString const& path) {
    QLocalServer server;
    QLocalServer::removeServer(path);
    if (!server.listen(path)) {
        return 1;
    }
    QObject::connect(&server, &QLocalServer::newConnection, [&server] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead,
                             [socket] { socket->write(socket->readAll()); });
        }
    });
    say_ready_and_wait_for_input_end();
    return QCoreApplication::exec();
}

bool start_child(QProcess& child, QString const& mode, QString const& path) {
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {mode, path});
    return child.waitForReadyRead(30000) && child.readLine().trimmed() == "ready";
}

void stop_child(QProcess& child) {
    child.closeWriteChannel();
    if (!child.waitForFinished(10000)) {
        child.kill();
        child.waitForFinished();
    }
}

// A socket file that nobody listens on, as a killed instance leaves it.
bool make_stale_socket(QString const& path) {
    QByteArray const encoded = QFile::encodeName(path);
    int const fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
    bool const bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return bound;
}

bool raw_round_trip(QString const& path) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(500)) {
        return false;
    }
    socket.write(is_running_request);
    if (!socket.waitForBytesWritten(500)) {
        return false;
    }
    QByteArray reply;
    while (reply.size() < is_running_request.size() && socket.waitForReadyRead(1000)) {
        reply += socket.readAll();
    }
    socket.disconnectFromServer();
    return reply == is_running_request;
}

struct measure {
    char const* name;
    std::function<bool()> operation;
    std::vector<double> samples{};
    int failures = 0;
};

using kelvra::bench::median;

double mean(std::vector<double> const& values) {
    double sum = 0;
    for (double const v : values) {
        sum += v;
    }
    return sum / static_cast<double>(values.size());
}

// The client writes a debug line on every probe that finds no instance; a
// real start formats it too, but the figures should not include a terminal.
void discard_messages(QtMsgType, QMessageLogContext const&, QString const&) {}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList const args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--instance")) {
        return run_instance(args.at(2));
    }
    if (args.size() == 3 && args.at(1) == QLatin1String("--echo")) {
        return run_echo(args.at(2));
    }

    QTemporaryDir runtime;
    if (!runtime.isValid()) {
        return 1;
    }
    QString const instance_path = runtime.filePath(QStringLiteral("KelvraCommunicationServer"));
    QString const echo_path = runtime.filePath(QStringLiteral("echo"));
    QString const absent_path = runtime.filePath(QStringLiteral("absent"));
    QString const stale_path = runtime.filePath(QStringLiteral("stale"));
    QString const taken_over_path = runtime.filePath(QStringLiteral("taken-over"));

    QProcess instance;
    QProcess echo;
    if (!start_child(instance, QStringLiteral("--instance"), instance_path) ||
        !start_child(echo, QStringLiteral("--echo"), echo_path) || !make_stale_socket(stale_path)) {
        std::fputs("bench_communication: set-up failed\n", stderr);
        return 1;
    }
    qInstallMessageHandler(discard_messages);

    namespace detail = kelvra::communication::detail;
    std::vector<measure> measures{
        {"raw_round_trip", [&] { return raw_round_trip(echo_path); }},
        {"is_running_round_trip",
         [&] { return detail::query_is_running(instance_path).value_or(false); }},
        {"probe_name_absent", [&] { return !detail::query_is_running(absent_path); }},
        {"probe_stale_socket", [&] { return !detail::query_is_running(stale_path); }},
        // Becoming the instance afterwards: the floor is a bare listen.
        {"raw_listen",
         [&] {
             QLocalServer server;
             bool const ok = server.listen(absent_path);
             server.close();
             return ok;
         }},
        {"listen_over_stale_socket",
         [&] {
             auto& server = kelvra::communication::server::instance();
             bool const ok =
                 make_stale_socket(taken_over_path) && server.start_listening(taken_over_path);
             server.stop_listening();
             return ok;
         }},
    };
    for (int round = 0; round < warm_up + rounds; ++round) {
        // Interleaved, so that drift in the machine's load hits all alike.
        for (auto& m : measures) {
            QElapsedTimer clock;
            clock.start();
            bool const ok = m.operation();
            double const ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            if (!ok) {
                ++m.failures;
            }
            if (round >= warm_up) {
                m.samples.push_back(ms);
            }
        }
    }
    stop_child(instance);
    stop_child(echo);

    for (auto const& m : measures) {
        std::string const name = m.name;
        bool const listens = name.find("listen") != std::string::npos;
        double const baseline = median(measures[listens ? 4 : 0].samples);
        std::printf("%s_median %.4f ms\n", m.name, median(m.samples));
        std::printf("%s_mean %.4f ms\n", m.name, mean(m.samples));
        std::printf("%s_ratio_to_%s %.2f x\n", m.name, listens ? "raw_listen" : "raw_round_trip",
                    median(m.samples) / baseline);
        if (m.failures > 0) {
            std::printf("%s_failures %d count\n", m.name, m.failures);
        }
    }
    return 0;
}
