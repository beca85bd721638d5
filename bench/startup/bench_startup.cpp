// Start-up of the installed program on a virtual X server, against a minimal
// Qt Widgets program that shows a QMainWindow, measured the same way in the
// same run:
//   - cold start: exec until the first top-level window is mapped;
//   - second start: exec of a start that hands over to the running instance,
//     until it exits, against the minimal program's start-to-quit;
//   - resident memory of the idle program with its window shown.
#include "support/installation.hpp"
#include "support/timing.hpp"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using kelvra::bench::line;

using steady = std::chrono::steady_clock;
int const runs = 11;

double ms_since(steady::time_point start) {
    return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

pid_t spawn(QByteArray const& program, std::vector<QByteArray> const& arguments = {}) {
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (QByteArray const& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.constData()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

int wait_exit(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Only ever a child this benchmark started: kill() with 0 or -1 would reach
// the whole process group or every process the user may signal.
void stop(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    wait_exit(pid);
}

long rss_kib(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (QByteArray const& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// A client of the virtual screen that sees every top-level window mapped.
class screen {
public:
    explicit screen(QByteArray const& display) : connection_(xcb_connect(display, nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) {
            return;
        }
        xcb_screen_t const* s = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        uint32_t const mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, s->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        ok_ = true;
    }
    ~screen() { xcb_disconnect(connection_); }
    screen(screen const&) = delete;
    screen& operator=(screen const&) = delete;

    bool ok() const { return ok_; }

    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            std::free(event);
        }
    }

    // Waits up to 30 s for a top-level window to be mapped.
    bool wait_for_map() {
        auto const deadline = steady::now() + std::chrono::seconds(30);
        while (xcb_connection_has_error(connection_) == 0) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                bool const mapped =
                    (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                    reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect == 0;
                std::free(event);
                if (mapped) {
                    return true;
                }
            }
            auto const left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(left.count()));
        }
        return false;
    }

private:
    xcb_connection_t* connection_;
    bool ok_ = false;
};

struct shown {
    pid_t pid = -1;
    double ms = 0;
};

// Starts `program` and waits for its window.
shown start_shown(screen& x, QByteArray const& program) {
    x.drain();
    auto const start = steady::now();
    shown result;
    result.pid = spawn(program);
    if (result.pid <= 0) {
        result.ms = -1;
        return result;
    }
    if (x.wait_for_map()) {
        result.ms = ms_since(start);
    } else {
        result.ms = -1;
    }
    return result;
}

double exec_to_exit(QByteArray const& program, std::vector<QByteArray> const& arguments,
                    int& status) {
    auto const start = steady::now();
    pid_t const pid = spawn(program, arguments);
    status = pid > 0 ? wait_exit(pid) : -1;
    return ms_since(start);
}

int fail(char const* what) {
    std::fprintf(stderr, "bench_startup: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir work;
    QString const prefix = work.filePath(QStringLiteral("kelvra"));
    if (!kelvra::bench::install_for_a_user(QStringLiteral(KELVRA_BUILD_DIR), prefix, work)) {
        return fail("could not install the program into a temporary folder");
    }

    QProcess xvfb;
    QByteArray const display = kelvra::bench::start_virtual_screen(xvfb);
    if (display.isEmpty()) {
        return fail("the virtual X server did not start");
    }
    screen x(display);
    if (!x.ok()) {
        return fail("could not connect to the virtual X server");
    }

    QByteArray const kelvra = QFile::encodeName(prefix + QStringLiteral("/bin/kelvra"));
    QByteArray const minimal = KELVRA_MINIMAL_WINDOW;
    if (access(kelvra.constData(), X_OK) != 0 || access(minimal.constData(), X_OK) != 0) {
        return fail("the installation has no bin/kelvra, or the minimal program is missing");
    }

    std::printf("# start-up on a virtual X server against a minimal QMainWindow program "
                "(median of %d runs)\n",
                runs);
    std::vector<double> cold_kelvra, cold_minimal, rss_kelvra, rss_minimal;
    for (int i = 0; i <= runs; ++i) { // the first round only warms the caches
        for (bool const is_kelvra : {true, false}) {
            shown const s = start_shown(x, is_kelvra ? kelvra : minimal);
            if (s.ms < 0) {
                stop(s.pid);
                return fail(is_kelvra ? "kelvra showed no window" : "no minimal window");
            }
            // Idle with its window shown: let the first paint and the
            // start-up work settle before reading its memory.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            long const rss = rss_kib(s.pid);
            stop(s.pid);
            if (i == 0) {
                continue;
            }
            (is_kelvra ? cold_kelvra : cold_minimal).push_back(s.ms);
            (is_kelvra ? rss_kelvra : rss_minimal).push_back(static_cast<double>(rss));
        }
    }
    double const cold_k = kelvra::bench::median(cold_kelvra);
    double const cold_m = kelvra::bench::median(cold_minimal);
    line("cold_start_kelvra", cold_k, "ms");
    line("cold_start_minimal_window", cold_m, "ms");
    line("cold_start_ratio", cold_k / cold_m, "ratio (target 2.00)");

    shown const instance = start_shown(x, kelvra);
    if (instance.ms < 0) {
        stop(instance.pid);
        return fail("kelvra showed no window");
    }
    std::vector<double> second, quit;
    for (int i = 0; i <= runs; ++i) {
        int status = 0;
        double const handed = exec_to_exit(kelvra, {}, status);
        if (status != 0) {
            stop(instance.pid);
            return fail("the second start did not end with status 0");
        }
        x.drain();
        double const minimal_quit = exec_to_exit(minimal, {"--quit"}, status);
        if (status != 0) {
            stop(instance.pid);
            return fail("the minimal program did not quit with status 0");
        }
        if (i > 0) {
            second.push_back(handed);
            quit.push_back(minimal_quit);
        }
    }
    stop(instance.pid);
    double const second_k = kelvra::bench::median(second);
    double const quit_m = kelvra::bench::median(quit);
    line("second_start_kelvra", second_k, "ms");
    line("start_to_quit_minimal_window", quit_m, "ms");
    line("second_start_ratio", second_k / quit_m, "ratio (target 1.50)");

    double const rss_k = kelvra::bench::median(rss_kelvra);
    double const rss_m = kelvra::bench::median(rss_minimal);
    line("rss_idle_kelvra", rss_k, "KiB");
    line("rss_idle_minimal_window", rss_m, "KiB");
    line("rss_ratio", rss_k / rss_m, "ratio (target 2.00)");

    xvfb.terminate();
    xvfb.waitForFinished(5000);
    return 0;
}
