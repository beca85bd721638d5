#include "support/sshd_server.hpp"

#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <unistd.h>

namespace kelvra::testing {

sshd_server::~sshd_server() {
    stop_process(process_);
}

QString sshd_server::unavailable_reason() {
    if (::geteuid() != 0) {
        return QStringLiteral("sshd needs root");
    }
    for (auto const* program :
         {"/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/unshare", "/usr/bin/puttygen"}) {
        if (!QFile::exists(QString::fromLatin1(program))) {
            return QStringLiteral("missing ") + QString::fromLatin1(program);
        }
    }
    return {};
}

QByteArray sshd_server::host_key_blob() const {
    QList<QByteArray> const fields =
        read_file(dir_.filePath(QStringLiteral("host_key.pub"))).split(' ');
    return fields.size() >= 2 ? fields[1] : QByteArray();
}

bool sshd_server::start(QByteArray const& password, QString& error) {
    QString const host_key = dir_.filePath(QStringLiteral("host_key"));
    // The host key, the client key (also as a .ppk) and root's password hash.
    finished_program const made = run_program(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("ssh-keygen -q -t ed25519 -N '' -f \"$1\" && "
                        "ssh-keygen -q -t ed25519 -N '' -f \"$2\" && "
                        "puttygen \"$2\" -O private -o \"$2.ppk\" && openssl passwd -6 -stdin"),
         QStringLiteral("sh"), host_key, client_key()},
        password + '\n');
    if (!dir_.isValid() || made.code != 0) {
        error = QStringLiteral("keys not made: ") + QString::fromLocal8Bit(made.err);
        return false;
    }
    {
        QTcpServer probe; // a port free now; sshd binds it soon
        probe.listen(QHostAddress::LocalHost, 0);
        port_ = probe.serverPort();
    }
    QString const config = dir_.filePath(QStringLiteral("sshd_config"));
    if (!write_file(config,
                    QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3\n"
                                   "AuthorizedKeysFile %4.pub\nStrictModes no\nUsePAM no\n"
                                   "KbdInteractiveAuthentication no\nPermitRootLogin yes\n"
                                   "PasswordAuthentication yes\nAcceptEnv KELVRA_*\n"
                                   "AllowStreamLocalForwarding yes\nStreamLocalBindUnlink yes\n"
                                   "X11Forwarding no\nPrintMotd no\nLogLevel VERBOSE\n")
                        .arg(port_)
                        .arg(host_key, dir_.filePath(QStringLiteral("sshd.pid")), client_key())
                        .toLocal8Bit())) {
        error = QStringLiteral("sshd_config not written");
        return false;
    }

    // In its own mount namespace: a private /run, and a copy of the shadow
    // file where root has the test password.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStringLiteral("/usr/bin/unshare"),
        {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"),
         QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         QStringLiteral(
             "umask 077 && sed \"s|^root:[^:]*:|root:$1:|\" /etc/shadow > \"$2\" && "
             "grep -qF \"root:$1:\" \"$2\" && mount --bind \"$2\" /etc/shadow && "
             "mount -t tmpfs -o mode=0755 kelvra-test /run && mkdir -m 0755 /run/sshd && "
             "exec /usr/sbin/sshd -D -e -f \"$3\""),
         QStringLiteral("sh"), QString::fromLatin1(made.out.trimmed()),
         dir_.filePath(QStringLiteral("shadow")), config});
    // sshd says when it listens.
    QByteArray const ready = "Server listening on 127.0.0.1 port " + QByteArray::number(port_);
    if (!wait_for_line(process_, ready)) {
        error = QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(process_.readAll());
        return false;
    }
    return true;
}

} // namespace kelvra::testing
