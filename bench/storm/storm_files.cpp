// Kill storm of a process that saves: a child of this program saves four
// sessions, etc/interface.json and an export file of the sessions of a
// temporary installation in a loop, and is killed with SIGKILL at a random
// moment, 1,000 times by default (or the first argument). After every kill,
// every file must still be there and read whole: the four sessions list with
// their names and a key from one of the saves, etc/interface.json gives one
// of the themes saved, and the export file imports four sessions.
//
// Only the pids this program started are signalled.
//
// Prints `name value unit` lines; exits 1 when a file was lost or did not
// read. The temporary files that cut saves leave behind are counted apart.
#include "interface/preferences/appearance.hpp"
#include "sessions/session_store.hpp"
#include "sessions/session_transfer.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using kelvra::bench::line;

namespace core = brano::core::v6;
using kelvra::interface::preferences::theme;

constexpr int session_count = 4;

QString export_file(QString const& bin) {
    return bin + QStringLiteral("/../home/sessoes.json");
}

kelvra::session numbered(int which, long long round) {
    kelvra::session s;
    s.id = QStringLiteral("{00000000-0000-4000-8000-%1}").arg(which, 12, 10, QLatin1Char('0'));
    s.nome = QStringLiteral("Sessão %1").arg(which);
    s.host = QStringLiteral("mirtel");
    s.porta = 22;
    s.usuario = QStringLiteral("op");
    s.key = QString(200 + int(round % 300), QLatin1Char('k'));
    s.caminho = QStringLiteral("/srv");
    s.comando = QStringLiteral("menu %1").arg(round);
    for (int i = 0; i < int(round % 5); ++i) {
        s.impressoras.append({QStringLiteral("lp%1").arg(i), QStringLiteral("Impressora"), i});
    }
    return s;
}

// The child: saves until it is killed.
int save_loop(QString const& bin) {
    kelvra::detail::session_store const store(bin);
    std::fputc('.', stdout); // started
    std::fflush(stdout);
    for (long long round = 0;; ++round) {
        core::result::stack status;
        store.save_session(numbered(int(round % session_count), round), status);
        kelvra::interface::preferences::detail::save_appearance(bin, theme(round % 3), status);
        QVector<kelvra::session> exported;
        for (int i = 0; i < session_count; ++i) {
            exported << numbered(i, round + i);
        }
        kelvra::write_export_document(export_file(bin), exported, status);
        if (status.has_failed()) {
            std::fprintf(stderr, "storm_files: a save failed\n");
            return 1;
        }
    }
}

// The bytes of every file, which change with every save.
QByteArray contents(QString const& root) {
    QByteArray out;
    for (char const* folder : {"var/sessions", "etc", "home"}) {
        QDir const dir(root + QLatin1Char('/') + QLatin1String(folder));
        for (QString const& name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            out += file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?");
        }
    }
    return out;
}

// What is wrong with the files now; empty when all are whole.
QString check(QString const& bin) {
    core::result::stack status;
    QVector<kelvra::session> const sessions =
        kelvra::detail::session_store(bin).load_sessions(status);
    if (status.has_failed()) {
        return QStringLiteral("the sessions do not list");
    }
    if (sessions.size() != session_count) {
        return QStringLiteral("%1 sessions instead of %2").arg(sessions.size()).arg(session_count);
    }
    for (int i = 0; i < session_count; ++i) {
        if (sessions[i].nome != QStringLiteral("Sessão %1").arg(i) ||
            sessions[i].key.size() < 200 ||
            sessions[i].key.count(QLatin1Char('k')) != sessions[i].key.size()) {
            return QStringLiteral("session %1 holds something else").arg(i);
        }
    }
    QFile appearance(bin + QStringLiteral("/../etc/interface.json"));
    if (!appearance.exists()) {
        return QStringLiteral("etc/interface.json is gone");
    }
    theme value = theme(-1);
    kelvra::interface::preferences::detail::load_appearance(bin, value, status);
    if (status.has_failed() ||
        (value != theme::light && value != theme::dark && value != theme::autodetect)) {
        return QStringLiteral("etc/interface.json does not read");
    }
    if (!QFile::exists(export_file(bin))) {
        return QStringLiteral("the export file is gone");
    }
    QVector<kelvra::session> const imported =
        kelvra::load_import_document(export_file(bin), status);
    if (status.has_failed() || imported.size() != session_count) {
        return QStringLiteral("the export file does not import");
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "save-loop") == 0) {
        return save_loop(QString::fromLocal8Bit(argv[2]));
    }
    int const kills = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    QTemporaryDir root;
    QString const bin = root.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    QDir().mkpath(root.filePath(QStringLiteral("etc")));
    QDir().mkpath(root.filePath(QStringLiteral("var/sessions")));
    qputenv("HOME", root.filePath(QStringLiteral("home")).toLocal8Bit());
    {
        kelvra::detail::session_store const store(bin);
        core::result::stack status;
        for (int i = 0; i < session_count; ++i) {
            store.save_session(numbered(i, i), status);
        }
        kelvra::interface::preferences::detail::save_appearance(bin, theme::dark, status);
        QDir().mkpath(root.filePath(QStringLiteral("home")));
        QVector<kelvra::session> exported;
        for (int i = 0; i < session_count; ++i) {
            exported << numbered(i, i);
        }
        kelvra::write_export_document(export_file(bin), exported, status);
        if (status.has_failed() || !check(bin).isEmpty()) {
            std::fprintf(stderr, "storm_files: the first saves failed: %s %s\n",
                         status.get_message().c_str(), qPrintable(check(bin)));
            return 1;
        }
    }

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> kill_after_us(0, 200000);
    QByteArray const self = QFile::encodeName(QCoreApplication::applicationFilePath());
    QByteArray const mode = "save-loop";
    QByteArray const where = QFile::encodeName(bin);
    int broken = 0;
    int changed = 0; // kills after the child had saved something
    QByteArray last = contents(root.path());
    for (int i = 0; i < kills; ++i) {
        int out[2];
        if (::pipe(out) != 0) {
            return 1;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* child_argv[] = {const_cast<char*>(self.constData()),
                              const_cast<char*>(mode.constData()),
                              const_cast<char*>(where.constData()), nullptr};
        pid_t pid = -1;
        int const spawned =
            posix_spawn(&pid, self.constData(), &actions, nullptr, child_argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char started = 0;
        if (spawned != 0 || ::read(out[0], &started, 1) != 1) {
            std::fprintf(stderr, "storm_files: the saving process did not start\n");
            return 1;
        }
        ::close(out[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(kill_after_us(random)));
        ::kill(pid, SIGKILL); // only ever the child started just above
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFSIGNALED(status)) {
            std::fprintf(stderr, "storm_files: the saving process ended by itself\n");
            return 1;
        }
        QString const problem = check(bin);
        if (!problem.isEmpty()) {
            ++broken;
            std::fprintf(stderr, "kill %d: %s\n", i, qPrintable(problem));
        }
        QByteArray const now = contents(root.path());
        changed += now != last ? 1 : 0;
        last = now;
    }
    // Files beside the program's own: the temporary files of saves that a
    // kill cut short. The program never reads them; they are counted apart.
    int leftovers = 0;
    for (char const* folder : {"var/sessions", "etc", "home"}) {
        QDir const dir(root.filePath(QLatin1String(folder)));
        for (QString const& name : dir.entryList(QDir::Files)) {
            if (!name.endsWith(QStringLiteral(".json"))) {
                ++leftovers;
                std::fprintf(stderr, "left over: %s/%s\n", folder, qPrintable(name));
            }
        }
    }
    line("storm_kills", kills, "kills");
    line("storm_kills_after_saves", changed, "kills");
    line("storm_broken_checks", broken, "checks (a file lost or not read)");
    line("storm_leftover_temporary_files", leftovers, "files");
    return broken == 0 ? 0 : 1;
}
