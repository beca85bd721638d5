// A running instance for the tests: listens on this user's local socket with
// the program's own server and prints what happens, one line each:
//   listening PATH | not listening     (at start; "not listening" exits 2)
//   open_application
//   open_connection [NAME]
// It ends when its standard input is closed. With "--on-go" it first prints
// "ready" and waits for a line on its input before it starts listening, so
// that a test can let several starts race for the name at once.
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
