// A second start for the tests: one client exchange with this user's running
// instance, its outcome on standard output, then "elapsed_ms N".
//   probe                    running true | running false | no answer
//   open-application         acknowledged | no answer
//   open-connection NAME     acknowledged | no answer
//   exchange HEX             reply HEX | no reply
//   is-running-reply         the decoded reply to is_running: "running B",
//                            or "failure" then "entry CATEGORY|MESSAGE" and
//                            "argument NAME=VALUE" lines; or "malformed"
//                            (also when nothing came back)
#include "communication/client_exchange.hpp"
#include "communication/services.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace communication = kelvra::communication;
namespace services = kelvra::protocol::services;

namespace {

void print_line(QString const& line) {
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

QString running(bool value) {
    return value ? QStringLiteral("running true") : QStringLiteral("running false");
}

QString answer(bool answered) {
    return answered ? QStringLiteral("acknowledged") : QStringLiteral("no answer");
}

void print_is_running_reply() {
    auto const bytes =
        communication::client_exchange(services::encode(services::is_running::request{}));
    auto const reply = services::decode_is_running_reply(bytes.value_or(QByteArray()));
    if (!reply) {
        print_line(QStringLiteral("malformed"));
        return;
    }
    if (auto const* response = std::get_if<services::is_running::response>(&*reply)) {
        print_line(running(response->running));
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
    QString const command = args.value(0);
    QString const operand = args.value(1);
    QElapsedTimer clock;
    clock.start();
    if (command == QLatin1String("probe")) {
        auto const is_running = communication::query_is_running();
        print_line(is_running ? running(*is_running) : answer(false));
    } else if (command == QLatin1String("open-application")) {
        print_line(answer(communication::send_open_application()));
    } else if (command == QLatin1String("open-connection")) {
        print_line(answer(communication::send_open_connection(operand)));
    } else if (command == QLatin1String("exchange")) {
        auto const reply = communication::client_exchange(QByteArray::fromHex(operand.toLatin1()));
        print_line(reply ? QStringLiteral("reply ") + QString::fromLatin1(reply->toHex())
                         : QStringLiteral("no reply"));
    } else if (command == QLatin1String("is-running-reply")) {
        print_is_running_reply();
    } else {
        return 2;
    }
    print_line(QStringLiteral("elapsed_ms %1").arg(clock.elapsed()));
    return 0;
}
