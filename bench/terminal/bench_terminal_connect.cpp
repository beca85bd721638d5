// From `bin/kelvra --load NAME` to the first tunnel request of the probe on
// the server, against the floor: a plain ssh to the same sshd, with its own
// remote forward, running the same probe. Both sides signal the moment the
// probe has its reply through a fifo. Rounds alternate; medians are printed.
//
// Needs root (sshd) and the tunnel's port 59565.
#include "support/machine_identity.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"
#include "support/timing.hpp"
#include "tunnel_stand_in.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int rounds = 9;
constexpr int timeout_ms = 60000;

// Waits until something is written into the fifo; false on timeout.
bool wait_for_signal(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0 || (p.revents & POLLIN) == 0) {
        return false;
    }
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QString const reason = kelvra::testing::sshd_server::unavailable_reason();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "bench_terminal_connect: %s\n", qPrintable(reason));
        return 1;
    }
    kelvra::testing::isolated_home home;
    kelvra::testing::install_root root;
    kelvra::testing::machine_identity identity;
    if (!identity.is_ready()) {
        std::fprintf(stderr, "no identity: %s\n", qPrintable(identity.error()));
        return 1;
    }
    QString const kelvra = root.file(QStringLiteral("bin/kelvra"));
    QString const probe = root.file(QStringLiteral("libexec/kelvra-probe"));
    for (auto const& [from, to] : {std::pair{KELVRA_EXECUTABLE, "bin/kelvra"},
                                   {KELVRA_PUTTY, "libexec/putty"},
                                   {KELVRA_ASKPASS, "libexec/kelvra-askpass"},
                                   {KELVRA_SSH_RUNNER, "libexec/kelvra-ssh"},
                                   {KELVRA_PROBE, "libexec/kelvra-probe"}}) {
        root.install(QString::fromLatin1(from), QString::fromLatin1(to));
    }

    kelvra::testing::sshd_server server;
    QString error;
    if (!server.start("unused", error)) {
        std::fprintf(stderr, "sshd: %s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir work;
    QString const fifo = work.filePath(QStringLiteral("signal"));
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    int const signal_fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    // Keeps the fifo open for writing so that a writer's close never reads as an end.
    int const keep_fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);

    QString const tail = QStringLiteral(" > /dev/null; echo x > ") + fifo;

    // The session, saved as the editor would.
    kelvra::session s;
    s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    s.nome = QStringLiteral("Bench");
    s.host = QStringLiteral("127.0.0.1");
    s.porta = server.port();
    s.usuario = QStringLiteral("root");
    s.tipo_autenticacao = kelvra::authentication_type::key_file;
    s.key = kelvra::testing::machine_identity::session_key_text(
        kelvra, server.client_key().toUtf8(), probe + tail, work.path());
    if (!root.save(s)) {
        std::fprintf(stderr, "session not saved\n");
        return 1;
    }

    kelvra::testing::tunnel_stand_in tunnel;
    QString const known_hosts = home.home() + QStringLiteral("/.ssh/known_hosts_plain");
    std::vector<double> through_kelvra;
    std::vector<double> plain;
    for (int round = 0; round < rounds + 1; ++round) {
        // Kelvra: the launcher, the terminal program, ssh, the probe.
        QElapsedTimer timer;
        QProcess process;
        timer.start();
        process.start(kelvra, {QStringLiteral("--load"), QStringLiteral("Bench")});
        if (!wait_for_signal(signal_fd)) {
            std::fprintf(stderr, "kelvra round %d: no request\n%s\n", round,
                         process.readAllStandardError().constData());
            return 1;
        }
        double const kelvra_ms = timer.nsecsElapsed() / 1e6;
        process.waitForFinished(timeout_ms);

        // Plain ssh with its own forward to the stand-in tunnel.
        QString const id = QStringLiteral("%1").arg(round + 1000);
        QString const socket =
            QStringLiteral("/tmp/kelvra-bench-") + QUuid::createUuid().toString(QUuid::Id128);
        QProcess ssh;
        timer.restart();
        ssh.start(QStringLiteral("ssh"),
                  {QStringLiteral("-p"), QString::number(server.port()), QStringLiteral("-l"),
                   QStringLiteral("root"), QStringLiteral("-i"), server.client_key(),
                   QStringLiteral("-o"), QStringLiteral("IdentitiesOnly=yes"), QStringLiteral("-o"),
                   QStringLiteral("StrictHostKeyChecking=accept-new"), QStringLiteral("-o"),
                   QStringLiteral("UserKnownHostsFile=") + known_hosts, QStringLiteral("-o"),
                   QStringLiteral("ExitOnForwardFailure=yes"), QStringLiteral("-R"),
                   socket + QStringLiteral(":127.0.0.1:") + QString::number(tunnel.port()),
                   QStringLiteral("127.0.0.1"),
                   QStringLiteral("KELVRA_CONNECTION_ID=7b7d ") + probe +
                       QStringLiteral(" --socket ") + socket + tail + QStringLiteral("; rm -f ") +
                       socket});
        if (!wait_for_signal(signal_fd)) {
            std::fprintf(stderr, "ssh round %d: no request\n%s\n", round,
                         ssh.readAllStandardError().constData());
            return 1;
        }
        double const plain_ms = timer.nsecsElapsed() / 1e6;
        ssh.waitForFinished(timeout_ms);
        if (round > 0) { // the first round warms caches and records the host key
            through_kelvra.push_back(kelvra_ms);
            plain.push_back(plain_ms);
        }
    }
    ::close(keep_fd);
    ::close(signal_fd);

    double const k = kelvra::bench::median(through_kelvra);
    double const p = kelvra::bench::median(plain);
    std::printf("kelvra_load_to_first_request %.1f ms\n", k);
    std::printf("plain_ssh_to_first_request %.1f ms\n", p);
    std::printf("ratio %.2f x\n", k / p);
    return 0;
}
