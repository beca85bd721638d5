#include "interface/application.hpp"

#include "commandline/arguments.hpp"
#include "communication/client_exchange.hpp"
#include "communication/server.hpp"
#include "connections/manager.hpp"
#include "core/describe_stack.hpp"
#include "core/log.hpp"
#include "core/tunnel_port.hpp"
#include "interface/resources.hpp"
#include "interface/show_error.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QApplication>
#include <QScopeGuard>
#include <QSystemTrayIcon>

#include <openssl/conf.h>

#include <cstdio>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;

void load_openssl_configuration() {
    OPENSSL_load_builtin_modules();
    // Default section; a missing configuration file is no error.
    CONF_modules_load_file(nullptr, nullptr,
                           CONF_MFLAGS_DEFAULT_SECTION | CONF_MFLAGS_IGNORE_MISSING_FILE);
}

// Without any display (a text console, an SSH login without forwarding) the
// program still works as a client of a running instance and as a launcher
// whose terminal runs in the calling terminal, so it falls back to Qt's
// offscreen platform instead of aborting. An explicit choice of platform
// always wins.
void choose_platform_without_display() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// Whether anybody can see a window: without a display (or on the
// offscreen platform) failures go to standard error instead of a dialog
// that nobody could answer.
bool on_screen() {
    return QGuiApplication::platformName() != QStringLiteral("offscreen");
}

void report(result::stack const& status) {
    if (on_screen()) {
        interface::show_error(nullptr, status);
        return;
    }
    std::string const text = describe_stack(status);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// Opens the saved session called `name`.
void open_session(QString const& name, result::stack& status) {
    session const s = find_session(name, status);
    if (status.has_failed()) {
        return;
    }
    manager::instance().open(connection::from_session(s), status);
}

// Opens every session marked to open at start, in listing order; stops at
// the first failure (sessions opened before it stay open). With an instance
// running, hands each to it by name instead: a connection opened here would
// be registered only in this short-lived process, and the running
// instance's tunnel would not know its id.
void open_autostart_sessions(bool running, result::stack& status) {
    QVector<session> const sessions = load_sessions(status);
    if (status.has_failed()) {
        return;
    }
    for (session const& s : sessions) {
        if (!s.autostart) {
            continue;
        }
        if (running) {
            communication::send_open_connection(s.nome); // the answer changes nothing
            continue;
        }
        manager::instance().open(connection::from_session(s), status);
        if (status.has_failed()) {
            return;
        }
    }
}

// Runs the event loop while terminal programs started here are running.
int wait_for_terminals(QApplication& application) {
    if (!manager::instance().has_running()) {
        return exit_success;
    }
    QObject::connect(&manager::instance(), &manager::all_finished, &application,
                     &QCoreApplication::quit);
    application.exec();
    return exit_success;
}

// Becomes the running instance: listens on the local socket and opens the
// sessions that later starts hand over by name.
void become_instance(QApplication& application) {
    auto& server = communication::server::instance();
    server.start_listening(); // a failure is logged; the program goes on
    // Queued, so that the second start gets its answer before the session
    // opens.
    QObject::connect(
        &server, &communication::server::open_connection, &application,
        [](QString const& name) {
            result::stack status;
            open_session(name, status);
            if (status.has_failed()) {
                report(status);
            }
        },
        Qt::QueuedConnection);
    QObject::connect(&server, &communication::server::open_application, &application,
                     [] { qCDebug(core_log) << "asked to show the window"; });
    QObject::connect(&manager::instance(), &manager::launch_failed, &application, report);
}

// Without a display: the instance serves the local socket and the tunnel
// while the terminal programs it started run, then ends.
int run_headless(QApplication& application) {
    become_instance(application);
    tunnel::tunnel_thread const tunnel(tunnel_port);
    wait_for_terminals(application);
    // A start may have handed over a session just as the last terminal
    // ended: stop listening first, then serve what already arrived.
    communication::server::instance().stop_listening();
    QCoreApplication::processEvents();
    return wait_for_terminals(application);
}

} // namespace

int run_application(int& argc, char** argv) {
    load_openssl_configuration();
    choose_platform_without_display();
    interface::register_resources();
    auto unregister = qScopeGuard([] { interface::unregister_resources(); });
    QApplication application(argc, argv);
    // The menu entry the installer writes, so that Wayland desktops tie the
    // window to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kelvra"));

    result::stack status;
    commandline::arguments arguments;
    arguments.parse(argc, argv, status);
    if (status.has_failed()) {
        report(status);
        return exit_failure;
    }

    bool const running = communication::probe_is_running();
    if (arguments.session_requested()) {
        if (running) {
            communication::send_open_connection(arguments.session_name());
            return exit_success;
        }
        open_session(arguments.session_name(), status);
        if (status.has_failed()) {
            report(status);
            return exit_failure;
        }
    } else {
        if (arguments.has_option(arguments.auto_open_connection)) {
            open_autostart_sessions(running, status);
            if (status.has_failed()) {
                qCDebug(core_log) << "automatic opening failed:" << describe_stack(status).c_str();
                return exit_failure;
            }
        }
        if (running) {
            communication::send_open_application();
            return exit_success;
        }
    }

    if (!on_screen()) {
        if (!arguments.session_requested() &&
            !arguments.has_option(arguments.auto_open_connection)) {
            std::fputs("kelvra: a janela do Kelvra precisa de uma sessão gráfica "
                       "(DISPLAY ou WAYLAND_DISPLAY)\n",
                       stderr);
            return exit_failure;
        }
        return run_headless(application);
    }

    // Becomes the instance, with the window and the tray.
    auto& server = communication::server::instance();
    server.start_listening(); // a failure is logged; the program goes on
    QApplication::setQuitOnLastWindowClosed(false);
    {
        ui::MainWindow window;
        bool const hidden =
            arguments.session_requested() || arguments.has_option(arguments.auto_open_connection);
        if (!hidden) {
            window.show();
        } else if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            // Without a tray the window could only be reached by starting
            // Kelvra again: it starts minimized instead, on the task bar.
            window.showMinimized();
        }
        application.exec();
    }
    return exit_success;
}

} // namespace kelvra
