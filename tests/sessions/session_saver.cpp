// Saves one session over and over, alternating a short and a long record,
// until it is killed. Usage: session_saver EXECUTABLE_DIR SESSION_ID
#include "sessions/session_store.hpp"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        return 2;
    }
    kelvra::detail::session_store const store(QString::fromLocal8Bit(argv[1]));
    kelvra::session s;
    s.id = QString::fromLocal8Bit(argv[2]);
    s.host = QStringLiteral("h");
    s.usuario = QStringLiteral("u");
    QString const long_name(64 * 1024, QLatin1Char('x'));
    std::puts("saving");
    std::fflush(stdout);
    for (unsigned long i = 0;; ++i) {
        s.nome = (i % 2 == 0) ? QStringLiteral("curta") : long_name;
        brano::core::v6::result::stack status;
        store.save_session(s, status);
        if (status.has_failed()) {
            return 1;
        }
    }
}
