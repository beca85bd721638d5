// A working day in minutes: the instance's window (offscreen) with its
// tunnel on 127.0.0.1:59565 and its local server, in this process, driven
// through 100,000 tunnel requests over connections that come and go, 1,000
// session openings (the recording terminal program ends at once), 500 list
// refreshes and 200 error boxes opened and closed (every fourth with its
// details window). A warm-up of a tenth of that work runs first.
//
// After warm-up and at the end, with every terminal program ended and the
// event loop drained, it reads its resident memory, open descriptors and
// threads, and prints them and their growth as `name value unit` lines.
// Exits 1 when the memory grew by 2 MiB or more, or the descriptors or
// threads differ.
//
// The program copies itself into a temporary installation (bin/) and runs
// there, with a private HOME and XDG_RUNTIME_DIR and a private system bus
// with the UDisks2 stand-in. The port is shared with other programs: when
// it is taken, it waits for it (two minutes at most).
#include "communication/server.hpp"
#include "connections/manager.hpp"
#include "core/status.hpp"
#include "core/tunnel_port.hpp"
#include "interface/resources.hpp"
#include "interface/show_error.hpp"
#include "interface/ui/main_window.hpp"
#include "support/machine_identity.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"
#include "support/timing.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using kelvra::bench::line;

namespace core = brano::core::v6;

struct figures {
    double rss_kib = 0;
    double descriptors = 0;
    double threads = 0;
};

double status_field(char const* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (QByteArray const& line : status.readAll().split('\n')) {
        if (line.startsWith(name)) {
            return line.mid(int(std::strlen(name))).trimmed().split(' ').value(0).toDouble();
        }
    }
    return -1;
}

figures measure() {
    figures f;
    f.rss_kib = status_field("VmRSS:");
    f.threads = status_field("Threads:");
    f.descriptors = QDir(QStringLiteral("/proc/self/fd"))
                        .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)
                        .size();
    return f;
}

// Runs the event loop until `done` or the bound; false on the bound.
bool wait_until(std::function<bool()> const& done, int bound_ms = 30000) {
    QDeadlineTimer const deadline(bound_ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}

QByteArray frame_of(QByteArray const& json) {
    QByteArray out(4, '\0');
    qToBigEndian(static_cast<quint32>(json.size()), out.data());
    return out + json;
}

int connect_tunnel() {
    int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kelvra::tunnel_port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    int const one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool recv_exact(int fd, char* into, std::size_t size) {
    while (size > 0) {
        ssize_t const n = ::recv(fd, into, size, 0);
        if (n <= 0) {
            return false;
        }
        into += n;
        size -= std::size_t(n);
    }
    return true;
}

class soak {
public:
    soak(kelvra::ui::MainWindow& window, QStringList names, QString records)
        : window_(window), names_(std::move(names)), records_(std::move(records)) {
        kelvra::connection c;
        c.name = QStringLiteral("Vendas");
        c.printers = {{QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
                      {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0}};
        QString const id = kelvra::manager::instance().register_connection(c);
        sound_ = frame_of("{\"connection_id\":\"" + id.toLatin1() +
                          "\",\"kind\":\"PrinterListRequest\",\"version\":1}");
        unavailable_ = frame_of("{\"connection_id\":\"" + id.toLatin1() +
                                "\",\"kind\":\"OpenUrlRequest\",\"version\":1}");
    }

    // One connection: `count` requests, pipelined, the last of every other
    // connection one that is refused (an error reply, then the server
    // closes). False when a reply is missing or of the wrong kind.
    bool tunnel_connection(int count, bool end_with_error) {
        int const fd = connect_tunnel();
        if (fd < 0) {
            return false;
        }
        QByteArray requests = sound_.repeated(end_with_error ? count - 1 : count);
        if (end_with_error) {
            requests += unavailable_;
        }
        bool sound = ::send(fd, requests.constData(), std::size_t(requests.size()), MSG_NOSIGNAL) ==
                     requests.size();
        for (int i = 0; sound && i < count; ++i) {
            char header[4];
            sound = recv_exact(fd, header, 4);
            QByteArray body(int(qFromBigEndian<quint32>(header)), '\0');
            sound = sound && recv_exact(fd, body.data(), std::size_t(body.size())) &&
                    body.contains(end_with_error && i == count - 1 ? "\"kind\":\"Error\""
                                                                   : "PrinterListResponse");
        }
        if (sound && end_with_error) {
            char byte = 0;
            sound = ::recv(fd, &byte, 1, 0) == 0; // closed after the error reply
        }
        ::close(fd);
        requests_ += count;
        return sound;
    }

    // Opens a session through the window or the tray's "Sessões" submenu.
    bool open_session(int n) {
        QString const& name = names_[n % names_.size()];
        if (n % 2 == 0) {
            window_.open_connection(name);
        } else {
            QList<QAction*> const actions = sessions_actions();
            if (actions.isEmpty()) {
                return false;
            }
            actions[n % actions.size()]->trigger();
        }
        ++openings_;
        return true;
    }

    QList<QAction*> sessions_actions() {
        for (QMenu* menu : window_.findChildren<QMenu*>()) {
            if (!menu->actions().isEmpty() && names_.contains(menu->actions().first()->text())) {
                return menu->actions();
            }
        }
        return {};
    }

    // An error box, closed once it is up; with its details window first
    // when `details`.
    void error_box(bool details) {
        core::result::stack failure;
        failure
            .push_item(kelvra::status::manager_category::instance(),
                       kelvra::status::manager_category::unknown_connection_id)
            .set_argument("id", "soak");
        close_next_box(details);
        kelvra::interface::show_error(&window_, QStringLiteral("Erro de teste"), failure);
        ++boxes_;
    }

    // One round of work: tunnel connections, openings, refreshes, boxes.
    bool round(int connections, int per_connection, int openings, int refreshes, int boxes) {
        for (int i = 0; i < connections; ++i) {
            if (!tunnel_connection(per_connection, (connections_++ % 2) == 1)) {
                std::fprintf(stderr, "soak: a tunnel connection was not answered in full\n");
                return false;
            }
        }
        for (int i = 0; i < openings; ++i) {
            if (!open_session(openings_)) {
                std::fprintf(stderr, "soak: no session to open\n");
                return false;
            }
        }
        for (int i = 0; i < refreshes; ++i) {
            window_.refresh_sessions();
            ++refreshes_;
        }
        for (int i = 0; i < boxes; ++i) {
            error_box(boxes_ % 4 == 3);
        }
        return settle();
    }

    // Every terminal program ended and reported, the launches' records
    // taken, the event loop drained.
    bool settle() {
        bool const ended = wait_until([] { return !kelvra::manager::instance().has_running(); });
        launches_ += kelvra::testing::take_recorded_launches(records_).size();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        if (!ended) {
            std::fprintf(stderr, "soak: terminal programs did not end\n");
        }
        return ended;
    }

    long long requests_ = 0;
    int openings_ = 0;
    int launches_ = 0;
    int refreshes_ = 0;
    int boxes_ = 0;
    int connections_ = 0;

private:
    static void close_next_box(bool details) {
        QTimer::singleShot(0, [details] {
            QWidget* const modal = QApplication::activeModalWidget();
            auto* const box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr) {
                return close_next_box(details); // not up yet
            }
            if (details) {
                auto* const more =
                    box->findChild<QAbstractButton*>(QStringLiteral("btn_mostrar_mais"));
                QTimer::singleShot(0, [] { close_details(); });
                more->click(); // returns when the details window has closed
            }
            box->findChild<QAbstractButton*>(QStringLiteral("btn_ok"))->click();
        });
    }

    static void close_details() {
        QWidget* const modal = QApplication::activeModalWidget();
        if (modal == nullptr || qobject_cast<QMessageBox*>(modal) != nullptr) {
            QTimer::singleShot(0, [] { close_details(); });
            return;
        }
        modal->findChild<QAbstractButton*>(QStringLiteral("btn_ok"))->click();
    }

    kelvra::ui::MainWindow& window_;
    QStringList names_;
    QString records_;
    QByteArray sound_;
    QByteArray unavailable_;
};

QJsonObject session_json(QString const& name, QString const& key) {
    return QJsonObject{{"versao", 2},        {"nome", name},      {"host", "mirtel"},
                       {"porta", 22},        {"usuario", "op"},   {"key", key},
                       {"caminho", "/srv"},  {"comando", "menu"}, {"tipo_autenticacao", 0},
                       {"autostart", false}, {"maximized", false}};
}

int run_inside() {
    QString const root = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QTemporaryDir records;
    qputenv("KELVRA_RECORD_DIR", records.path().toLocal8Bit());
    QDir().mkpath(root + QStringLiteral("/libexec"));
    QDir().mkpath(root + QStringLiteral("/etc"));
    if (!QFile::copy(QStringLiteral(KELVRA_RECORDING_PUTTY),
                     root + QStringLiteral("/libexec/putty"))) {
        std::fprintf(stderr, "soak: no recording terminal program\n");
        return 1;
    }
    QString const key = kelvra::testing::machine_identity::session_key_text(
        QCoreApplication::applicationFilePath(), "s3nh@", QStringLiteral("menu"),
        QStringLiteral("/srv"));
    QStringList names;
    for (int i = 0; i < 8; ++i) {
        QString const name = QStringLiteral("Sessão %1").arg(i);
        QString const id =
            QStringLiteral("{00000000-0000-4000-8000-%1}").arg(i, 12, 10, QLatin1Char('0'));
        kelvra::testing::write_file(root + QStringLiteral("/var/sessions/") + id +
                                        QStringLiteral(".json"),
                                    QJsonDocument(session_json(name, key)).toJson());
        names << name;
    }

    QDeadlineTimer const port_deadline(120000);
    while (!kelvra::testing::port_taken(kelvra::tunnel_port).isEmpty()) {
        if (port_deadline.hasExpired()) {
            std::fprintf(stderr, "soak: port 59565 stayed taken by another program\n");
            return 1;
        }
        QThread::msleep(100);
    }
    if (!kelvra::communication::server::instance().start_listening()) {
        std::fprintf(stderr, "soak: the local server did not listen\n");
        return 1;
    }
    kelvra::ui::MainWindow window;
    window.show();
    soak s(window, names, records.path());
    if (!wait_until([&] { return s.tunnel_connection(1, false); }, 10000)) {
        std::fprintf(stderr, "soak: the tunnel does not answer\n");
        return 1;
    }

    // 100 rounds of 10 connections of 100 requests, 10 openings, 5
    // refreshes and 2 boxes; the warm-up is 10 more.
    auto rounds = [&](int count) {
        for (int i = 0; i < count; ++i) {
            if (!s.round(10, 100, 10, 5, 2)) {
                return false;
            }
        }
        return true;
    };
    if (!rounds(10)) {
        return 1;
    }
    figures const warm = measure();
    long long const requests_before = s.requests_;
    int const openings_before = s.openings_;
    int const launches_before = s.launches_;
    int const refreshes_before = s.refreshes_;
    int const boxes_before = s.boxes_;
    int const connections_before = s.connections_;
    QElapsedTimer clock;
    clock.start();
    if (!rounds(100)) {
        return 1;
    }
    figures const end = measure();
    line("soak_seconds", double(clock.elapsed()) / 1000.0, "s");
    line("soak_tunnel_requests", double(s.requests_ - requests_before), "requests");
    line("soak_tunnel_connections", s.connections_ - connections_before, "connections");
    line("soak_session_openings", s.openings_ - openings_before, "openings");
    line("soak_terminal_programs_run", s.launches_ - launches_before, "programs");
    line("soak_list_refreshes", s.refreshes_ - refreshes_before, "refreshes");
    line("soak_error_boxes", s.boxes_ - boxes_before, "boxes");
    line("soak_rss_after_warmup", warm.rss_kib / 1024.0, "MiB");
    line("soak_rss_at_end", end.rss_kib / 1024.0, "MiB");
    line("soak_rss_growth", (end.rss_kib - warm.rss_kib) / 1024.0, "MiB (target < 2)");
    line("soak_descriptors_after_warmup", warm.descriptors, "descriptors");
    line("soak_descriptors_at_end", end.descriptors, "descriptors");
    line("soak_threads_after_warmup", warm.threads, "threads");
    line("soak_threads_at_end", end.threads, "threads");
    bool const held = end.rss_kib - warm.rss_kib < 2048 && end.descriptors == warm.descriptors &&
                      end.threads == warm.threads &&
                      s.launches_ - launches_before == s.openings_ - openings_before;
    return held ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (kelvra::testing::in_installation()) {
        kelvra::interface::register_resources();
        QApplication application(argc, argv);
        return run_inside();
    }
    kelvra::testing::isolated_home home;
    QCoreApplication application(argc, argv);
    kelvra::testing::machine_identity identity;
    if (!identity.is_ready()) {
        std::fprintf(stderr, "soak: no identity: %s\n", qPrintable(identity.error()));
        return 1;
    }
    return kelvra::testing::run_installed(QStringLiteral("bin/soak_instance"));
}
