// A running instance for the tests: the program's own server on this user's
// local socket. It prints "listening PATH" (or "not listening" and exits
// with 2), then "open_application" or "open_connection [NAME]" for each
// signal, and ends when its input closes. With "--on-go" it first prints
// "ready" and waits for a line, so that several starts race for the name.
#include "communication/server.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

void print_line(QString const& line) {
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    auto& server = kelvra::communication::server::instance();
    if (QCoreApplication::arguments().contains(QStringLiteral("--on-go"))) {
        print_line(QStringLiteral("ready"));
        char go[16];
        if (std::fgets(go, sizeof go, stdin) == nullptr) {
            return 3;
        }
    }
    if (!server.start_listening()) {
        print_line(QStringLiteral("not listening"));
        return 2;
    }
    QObject::connect(&server, &kelvra::communication::server::open_application,
                     [] { print_line(QStringLiteral("open_application")); });
    QObject::connect(
        &server, &kelvra::communication::server::open_connection,
        [](QString const& name) { print_line(QStringLiteral("open_connection [%1]").arg(name)); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    print_line(QStringLiteral("listening ") + server.listening_path());
    int const status = QCoreApplication::exec();
    server.stop_listening();
    return status;
}
