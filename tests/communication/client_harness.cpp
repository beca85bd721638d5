// A second start for the tests: one client exchange with this user's running
// instance, its outcome on standard output, then "elapsed_ms N".
//   probe                    running true | running false | no answer
//   open-application         acknowledged | no answer
//   open-connection NAME     acknowledged | no answer
//   exchange HEX             reply HEX | no reply
//   is-running-reply         the decoded reply to is_running: "running B",
//                            or "failure" then "entry CATEGORY|MESSAGE" and
//                            "argument NAME=VALUE" lines; or "malformed"
//   connect PATH             connected | not connected ERROR (a bare connect)
#include "communication/client_exchange.hpp"
#include "communication/services.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>

#include <cstdio>

namespace communication = kelvra::communication;
namespace services = kelvra::protocol::services;

namespace {

void print_line(QString const& line) {
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

QString yes_no(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

void print_answer(bool answered) {
    print_line(answered ? QStringLiteral("acknowledged") : QStringLiteral("no answer"));
}

void print_is_running_reply() {
    auto const bytes =
        communication::client_exchange(services::encode(services::is_running::request{}));
    if (!bytes) {
        print_line(QStringLiteral("no reply"));
        return;
    }
    auto const reply = services::decode_is_running_reply(*bytes);
    if (!reply) {
        print_line(QStringLiteral("malformed"));
        return;
    }
    if (auto const* response = std::get_if<services::is_running::response>(&*reply)) {
        print_line(QStringLiteral("running ") + yes_no(response->running));
        return;
    }
    print_line(QStringLiteral("failure"));
    for (auto const& entry : std::get<services::failure>(*reply).entries) {
        print_line(QStringLiteral("entry %1|%2").arg(entry.category_name, entry.message));
        for (auto it = entry.arguments.cbegin(); it != entry.arguments.cend(); ++it) {
            print_line(QStringLiteral("argument %1=%2").arg(it.key(), it.value()));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList const args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        return 2;
    }
    QString const command = args.at(0);
    QString const operand = args.value(1);
    QElapsedTimer clock;
    clock.start();
    if (command == QLatin1String("probe")) {
        auto const running = communication::query_is_running();
        print_line(running ? QStringLiteral("running ") + yes_no(*running)
                           : QStringLiteral("no answer"));
    } else if (command == QLatin1String("open-application")) {
        print_answer(communication::send_open_application());
    } else if (command == QLatin1String("open-connection")) {
        print_answer(communication::send_open_connection(operand));
    } else if (command == QLatin1String("exchange")) {
        auto const reply = communication::client_exchange(QByteArray::fromHex(operand.toLatin1()));
        print_line(reply ? QStringLiteral("reply ") + QString::fromLatin1(reply->toHex())
                         : QStringLiteral("no reply"));
    } else if (command == QLatin1String("is-running-reply")) {
        print_is_running_reply();
    } else if (command == QLatin1String("connect")) {
        QLocalSocket socket;
        socket.connectToServer(operand);
        print_line(socket.waitForConnected(500)
                       ? QStringLiteral("connected")
                       : QStringLiteral("not connected %1").arg(socket.error()));
    } else {
        return 2;
    }
    print_line(QStringLiteral("elapsed_ms %1").arg(clock.elapsed()));
    return 0;
}
