#include "support/sshd_server.hpp"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>

#include <unistd.h>

namespace kelvra::testing {

namespace {

constexpr int step_timeout_ms = 30000;

QString shell_word(QString const& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

quint16 free_loopback_port() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return server.serverPort();
}

sshd_server::sshd_server() {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

sshd_server::~sshd_server() {
    stop();
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

QString sshd_server::client_key() const {
    return dir_.filePath(QStringLiteral("client_key"));
}

QString sshd_server::client_ppk() const {
    return dir_.filePath(QStringLiteral("client_key.ppk"));
}

QByteArray sshd_server::host_key_blob() const {
    QFile file(dir_.filePath(QStringLiteral("host_key.pub")));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QList<QByteArray> const fields = file.readAll().split(' ');
    return fields.size() >= 2 ? fields[1] : QByteArray();
}

QByteArray sshd_server::log() {
    log_ += process_.readAll();
    return log_;
}

bool sshd_server::run(QString const& program, QStringList const& arguments, QByteArray const& input,
                      QByteArray* output, QString& error) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(step_timeout_ms)) {
        error = program + QStringLiteral(": ") + p.errorString();
        return false;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(step_timeout_ms) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        error = program + QStringLiteral(" failed: ") +
                QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    if (output != nullptr) {
        *output = p.readAllStandardOutput();
    }
    return true;
}

bool sshd_server::start(login mode, QByteArray const& password, QString& error) {
    if (!dir_.isValid()) {
        error = QStringLiteral("no temporary folder");
        return false;
    }
    QString const host_key = dir_.filePath(QStringLiteral("host_key"));
    if (!QFile::exists(host_key) &&
        (!run(QStringLiteral("/usr/bin/ssh-keygen"),
              {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
               QStringLiteral("-N"), QString(), QStringLiteral("-f"), host_key},
              {}, nullptr, error) ||
         !run(QStringLiteral("/usr/bin/ssh-keygen"),
              {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
               QStringLiteral("-N"), QString(), QStringLiteral("-C"), QStringLiteral("kelvra-test"),
               QStringLiteral("-f"), client_key()},
              {}, nullptr, error) ||
         !run(QStringLiteral("/usr/bin/puttygen"),
              {client_key(), QStringLiteral("-O"), QStringLiteral("private"), QStringLiteral("-o"),
               client_ppk()},
              {}, nullptr, error))) {
        return false;
    }
    QFile::copy(client_key() + QStringLiteral(".pub"),
                dir_.filePath(QStringLiteral("authorized_keys")));

    QString setup = QStringLiteral("mount -t tmpfs -o mode=0755 kelvra-test /run && "
                                   "mkdir -m 0755 /run/sshd");
    if (mode == login::password) {
        // root's entry of a copy of the shadow file gets the test password.
        QByteArray hash;
        if (!run(QStringLiteral("/usr/bin/openssl"),
                 {QStringLiteral("passwd"), QStringLiteral("-6"), QStringLiteral("-stdin")},
                 password + '\n', &hash, error)) {
            return false;
        }
        hash = hash.trimmed();
        QFile real(QStringLiteral("/etc/shadow"));
        if (!real.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("/etc/shadow: ") + real.errorString();
            return false;
        }
        QByteArray shadow;
        bool replaced = false;
        for (QByteArray const& line : real.readAll().split('\n')) {
            if (line.startsWith("root:")) {
                QList<QByteArray> fields = line.split(':');
                fields[1] = hash;
                shadow += fields.join(':') + '\n';
                replaced = true;
            } else if (!line.isEmpty()) {
                shadow += line + '\n';
            }
        }
        if (!replaced) {
            error = QStringLiteral("no root entry in /etc/shadow");
            return false;
        }
        QFile test_shadow(dir_.filePath(QStringLiteral("shadow")));
        if (!test_shadow.open(QIODevice::WriteOnly) || test_shadow.write(shadow) != shadow.size()) {
            error = QStringLiteral("test shadow not written");
            return false;
        }
        test_shadow.close();
        QFile::setPermissions(test_shadow.fileName(), QFile::ReadOwner | QFile::WriteOwner);
        setup += QStringLiteral(" && mount --bind ") + shell_word(test_shadow.fileName()) +
                 QStringLiteral(" /etc/shadow");
    }

    port_ = free_loopback_port();
    QByteArray config;
    config += "Port " + QByteArray::number(port_) + "\n";
    config += "ListenAddress 127.0.0.1\n";
    config += "HostKey " + host_key.toLocal8Bit() + "\n";
    config += "PidFile " + dir_.filePath(QStringLiteral("sshd.pid")).toLocal8Bit() + "\n";
    config += "AuthorizedKeysFile " +
              dir_.filePath(QStringLiteral("authorized_keys")).toLocal8Bit() + "\n";
    config += "StrictModes no\n";
    config += "UsePAM no\n";
    config += "KbdInteractiveAuthentication no\n";
    config += mode == login::password
                  ? "PermitRootLogin yes\nPasswordAuthentication yes\n"
                  : "PermitRootLogin prohibit-password\nPasswordAuthentication no\n";
    config += "AcceptEnv KELVRA_*\n";
    config += "AllowStreamLocalForwarding yes\n";
    config += "StreamLocalBindUnlink yes\n";
    config += "X11Forwarding no\n";
    config += "PrintMotd no\n";
    config += "LogLevel VERBOSE\n";
    QFile config_file(dir_.filePath(QStringLiteral("sshd_config")));
    if (!config_file.open(QIODevice::WriteOnly) || config_file.write(config) != config.size()) {
        error = QStringLiteral("sshd_config not written");
        return false;
    }
    config_file.close();

    QString const command = setup + QStringLiteral(" && exec /usr/sbin/sshd -D -e -f ") +
                            shell_word(config_file.fileName());
    process_.start(QStringLiteral("/usr/bin/unshare"),
                   {QStringLiteral("-m"), QStringLiteral("--propagation"),
                    QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                    command});
    if (!process_.waitForStarted(step_timeout_ms)) {
        error = QStringLiteral("unshare: ") + process_.errorString();
        return false;
    }
    // sshd says when it listens.
    QByteArray const ready = "Server listening on 127.0.0.1 port " + QByteArray::number(port_);
    QDeadlineTimer deadline(step_timeout_ms);
    while (!log().contains(ready)) {
        if (process_.state() != QProcess::Running || deadline.hasExpired()) {
            error = QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(log());
            return false;
        }
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

void sshd_server::stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(step_timeout_ms)) {
            process_.kill();
            process_.waitForFinished(step_timeout_ms);
        }
    }
}

} // namespace kelvra::testing
