#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kelvra::testing {

// OpenSSH's sshd on a free loopback port, with everything of its own in a
// temporary folder: host key, configuration, the client's key pair, the
// authorized keys, and the pid file. It runs in a private mount namespace
// (unshare -m) with a private /run for its privilege separation folder and a
// test shadow file bind-mounted over /etc/shadow, so the machine's accounts
// are never touched. root logs in with the client key or with the password
// given to start(). Needs root.
class sshd_server {
public:
    sshd_server() = default;
    ~sshd_server();
    sshd_server(sshd_server const&) = delete;
    sshd_server& operator=(sshd_server const&) = delete;

    // Why sshd cannot run here (not root, programs missing), or empty.
    static QString unavailable_reason();

    // Returns false with `error` set when sshd does not come up.
    bool start(QByteArray const& password, QString& error);

    quint16 port() const { return port_; }
    // The client's private key, in OpenSSH format and as a PuTTY .ppk.
    QString client_key() const { return dir_.filePath(QStringLiteral("client_key")); }
    QString client_ppk() const { return client_key() + QStringLiteral(".ppk"); }
    // The base64 blob of the server's public host key.
    QByteArray host_key_blob() const;

private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace kelvra::testing
