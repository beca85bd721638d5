// Listing saved sessions: load_sessions over 10, 1,000 and 10,000 session
// files, against the floor of opening and reading the same files raw.
#include "sessions/session_json.hpp"
#include "sessions/session_store.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

qint64 raw_read(QString const& folder) {
    qint64 bytes = 0;
    QDir const dir(folder);
    for (QFileInfo const& info :
         dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::NoSort)) {
        QFile f(info.filePath());
        if (f.open(QIODevice::ReadOnly)) {
            bytes += f.readAll().size();
        }
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::printf("# load_sessions against raw reads of the same files (median of runs)\n");
    double per_session_10k = 0;
    double per_session_1k = 0;
    double raw_per_file_10k = 0;
    double raw_per_file_1k = 0;
    for (int const n : {10, 1000, 10000}) {
        QTemporaryDir root;
        QDir(root.path()).mkpath(QStringLiteral("bin"));
        QDir(root.path()).mkpath(QStringLiteral("var/sessions"));
        kelvra::detail::session_store const store(root.filePath(QStringLiteral("bin")));
        kelvra::session s;
        s.host = QStringLiteral("mirtel.example.com");
        s.porta = 22;
        s.usuario = QStringLiteral("operador");
        s.key = QString(120, QLatin1Char('k'));
        s.comando = QStringLiteral("mirtel");
        s.caminho = QStringLiteral("/srv/mirtel");
        s.impressoras = {{QStringLiteral("P1"), QStringLiteral("Balcão"), 1}};
        for (int i = 0; i < n; ++i) {
            s.id = QUuid::createUuid().toString();
            s.nome = QStringLiteral("Sessão %1").arg((i * 7919) % n);
            brano::core::v6::result::stack status;
            store.save_session(s, status);
        }
        int const runs = n >= 10000 ? 5 : 21;
        QString const folder = root.filePath(QStringLiteral("var/sessions"));
        raw_read(folder); // warm the page cache for both
        double const raw = kelvra::bench::median_ms(runs, [&] { raw_read(folder); });
        int listed = 0;
        double const load = kelvra::bench::median_ms(runs, [&] {
            brano::core::v6::result::stack status;
            listed = store.load_sessions(status).size();
        });
        if (listed != n) {
            std::fprintf(stderr, "listed %d of %d sessions\n", listed, n);
            return 1;
        }
        std::printf("load_sessions_%d %.3f ms\n", n, load);
        std::printf("raw_read_%d %.3f ms\n", n, raw);
        std::printf("load_over_raw_%d %.2f ratio\n", n, load / raw);
        if (n == 1000) {
            per_session_1k = load / n;
            raw_per_file_1k = raw / n;
        }
        if (n == 10000) {
            per_session_10k = load / n;
            raw_per_file_10k = raw / n;
        }
    }
    // n log n growth means the per-session cost grows by at most
    // log(10000)/log(1000) = 1.33 from 1,000 to 10,000 sessions.
    // The folder itself (directory entries, inode lookups) already costs
    // more per file in a larger folder; the raw reads show by how much.
    std::printf("per_session_growth_1k_to_10k %.2f ratio (n log n bound 1.33)\n",
                per_session_10k / per_session_1k);
    std::printf("raw_per_file_growth_1k_to_10k %.2f ratio\n", raw_per_file_10k / raw_per_file_1k);
    return 0;
}
