// Refreshing the main window's session list with 1,000 stored sessions,
// against listing the same folder alone (what the refresh calls first).
// In-process on the offscreen platform, from a temporary installation.
#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "support/timing.hpp"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int const session_count = 1000;
int const runs = 11;

int measure() {
    QString const bin = QCoreApplication::applicationDirPath();
    kelvra::detail::session_store const store(bin);
    kelvra::session s;
    s.host = QStringLiteral("mirtel.example.com");
    s.porta = 22;
    s.usuario = QStringLiteral("operador");
    s.key = QString(120, QLatin1Char('k'));
    s.comando = QStringLiteral("mirtel");
    s.caminho = QStringLiteral("/srv/mirtel");
    for (int i = 0; i < session_count; ++i) {
        s.id = QUuid::createUuid().toString();
        s.nome = QStringLiteral("Sessão %1").arg((i * 7919) % session_count);
        brano::core::v6::result::stack status;
        store.save_session(s, status);
        if (status.has_failed()) {
            std::fprintf(stderr, "could not save session %d\n", i);
            return 1;
        }
    }

    kelvra::ui::MainWindow window; // lists the sessions once, warming the cache
    int listed = 0;
    double const load = kelvra::bench::median_ms(runs, [&] {
        brano::core::v6::result::stack status;
        listed = kelvra::load_sessions(status).size();
    });
    double const refresh = kelvra::bench::median_ms(runs, [&] { window.refresh_sessions(); });
    if (listed != session_count) {
        std::fprintf(stderr, "listed %d of %d sessions\n", listed, session_count);
        return 1;
    }
    std::printf("# refresh_sessions against load_sessions of the same folder (median of %d)\n",
                runs);
    std::printf("refresh_sessions_%d %.3f ms\n", session_count, refresh);
    std::printf("load_sessions_%d %.3f ms\n", session_count, load);
    std::printf("refresh_over_load_%d %.2f ratio (target 1.50)\n", session_count, refresh / load);
    return 0;
}

} // namespace

// Kelvra finds its installation from its own executable: the benchmark copies
// itself into a temporary installation and runs from there.
int main(int argc, char** argv) {
    if (argc < 2 || qstrcmp(argv[1], "--in-root") != 0) {
        QCoreApplication probe(argc, argv);
        QTemporaryDir root;
        for (char const* folder : {"bin", "etc", "libexec", "var/sessions"}) {
            QDir(root.path()).mkpath(QLatin1String(folder));
        }
        QString const copy = root.filePath(QStringLiteral("bin/bench_refresh_sessions"));
        if (!QFile::copy(QCoreApplication::applicationFilePath(), copy)) {
            std::fprintf(stderr, "could not lay out the temporary installation\n");
            return 2;
        }
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(copy, {QStringLiteral("--in-root")});
        child.waitForFinished(-1);
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 3;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    return measure();
}
