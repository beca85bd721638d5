#include "support/sshd_server.hpp"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>

#include <algorithm>

#include <unistd.h>

namespace kelvra::testing {

namespace {

constexpr int step_timeout_ms = 30000;

QString shell_word(QString text) {
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

// Runs a program to its end; its standard output, or false with `error`.
bool run(QString const& program, QStringList const& arguments, QByteArray const& input,
         QByteArray& output, QString& error) {
    QProcess p;
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(step_timeout_ms) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        error = program + QStringLiteral(" failed: ") + p.errorString() +
                QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    output = p.readAllStandardOutput();
    return true;
}

bool write_file(QString const& path, QByteArray const& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

sshd_server::~sshd_server() {
    process_.terminate();
    if (!process_.waitForFinished(step_timeout_ms)) {
        process_.kill();
        process_.waitForFinished(step_timeout_ms);
    }
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
    QFile file(dir_.filePath(QStringLiteral("host_key.pub")));
    QList<QByteArray> const fields =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    return fields.size() >= 2 ? fields[1] : QByteArray();
}

bool sshd_server::start(login mode, QByteArray const& password, QString& error) {
    QString const host_key = dir_.filePath(QStringLiteral("host_key"));
    QStringList const keygen{QStringLiteral("-q"),
                             QStringLiteral("-t"),
                             QStringLiteral("ed25519"),
                             QStringLiteral("-N"),
                             QString(),
                             QStringLiteral("-f")};
    QByteArray out;
    if (!dir_.isValid() ||
        !run(QStringLiteral("/usr/bin/ssh-keygen"), keygen + QStringList{host_key}, {}, out,
             error) ||
        !run(QStringLiteral("/usr/bin/ssh-keygen"), keygen + QStringList{client_key()}, {}, out,
             error) ||
        !run(QStringLiteral("/usr/bin/puttygen"),
             {client_key(), QStringLiteral("-O"), QStringLiteral("private"), QStringLiteral("-o"),
              client_ppk()},
             {}, out, error)) {
        return false;
    }

    QString setup = QStringLiteral("mount -t tmpfs -o mode=0755 kelvra-test /run && "
                                   "mkdir -m 0755 /run/sshd");
    if (mode == login::password) {
        // A copy of the shadow file where root has the test password.
        QFile real(QStringLiteral("/etc/shadow"));
        if (!run(QStringLiteral("/usr/bin/openssl"),
                 {QStringLiteral("passwd"), QStringLiteral("-6"), QStringLiteral("-stdin")},
                 password + '\n', out, error) ||
            !real.open(QIODevice::ReadOnly)) {
            return false;
        }
        QString const entry = QStringLiteral("root:") + QString::fromLatin1(out.trimmed()) + ':';
        QString shadow = QString::fromLatin1(real.readAll());
        shadow.replace(
            QRegularExpression(QStringLiteral("^root:[^:]*:"), QRegularExpression::MultilineOption),
            entry);
        QString const test_shadow = dir_.filePath(QStringLiteral("shadow"));
        if (!shadow.contains(entry) || !write_file(test_shadow, shadow.toLatin1())) {
            error = QStringLiteral("test shadow not written");
            return false;
        }
        setup += QStringLiteral(" && mount --bind ") + shell_word(test_shadow) +
                 QStringLiteral(" /etc/shadow");
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
                                   "KbdInteractiveAuthentication no\n%5"
                                   "AcceptEnv KELVRA_*\nAllowStreamLocalForwarding yes\n"
                                   "StreamLocalBindUnlink yes\nX11Forwarding no\nPrintMotd no\n"
                                   "LogLevel VERBOSE\n")
                        .arg(port_)
                        .arg(host_key, dir_.filePath(QStringLiteral("sshd.pid")), client_key(),
                             mode == login::password
                                 ? QStringLiteral("PermitRootLogin yes\n"
                                                  "PasswordAuthentication yes\n")
                                 : QStringLiteral("PermitRootLogin prohibit-password\n"
                                                  "PasswordAuthentication no\n"))
                        .toLocal8Bit())) {
        error = QStringLiteral("sshd_config not written");
        return false;
    }

    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStringLiteral("/usr/bin/unshare"),
        {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"),
         QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         setup + QStringLiteral(" && exec /usr/sbin/sshd -D -e -f ") + shell_word(config)});
    // sshd says when it listens.
    QByteArray const ready = "Server listening on 127.0.0.1 port " + QByteArray::number(port_);
    QByteArray log;
    QDeadlineTimer deadline(step_timeout_ms);
    while (!log.contains(ready)) {
        if (!process_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
            error = QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(log);
            return false;
        }
        log += process_.readAll();
    }
    return true;
}

} // namespace kelvra::testing
