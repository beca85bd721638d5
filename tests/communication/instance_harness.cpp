// The program's own server on this user's socket: prints "listening PATH"
// (or "not listening", exit 2), then each signal, and ends when its input
// closes. "--on-go" first prints "ready" and waits for a line, to race.
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
    if (QCoreApplication::arguments().contains("--on-go")) {
        print_line("ready");
        if (std::getchar() == EOF) {
            return 3;
        }
    }
    if (!server.start_listening()) {
        print_line("not listening");
        return 2;
    }
    QObject::connect(&server, &kelvra::communication::server::open_application,
                     [] { print_line("open_application"); });
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
    print_line("listening " + server.listening_path());
    int const status = QCoreApplication::exec();
    server.stop_listening();
    return status;
}
