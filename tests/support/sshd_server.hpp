#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kelvra::testing {

// OpenSSH's sshd on a free loopback port, with everything of its own in a
// temporary folder: host key, configuration, the client's key pair, the
// authorized keys, and the pid file. It runs in a private mount namespace
// (unshare -m) with a private /run for its privilege separation folder; for
// password logins a test shadow file is bind-mounted over /etc/shadow there,
// so the machine's accounts are never touched. Needs root.
class sshd_server {
public:
    enum class login { key, password };

    sshd_server();
    ~sshd_server();
    sshd_server(sshd_server const&) = delete;
    sshd_server& operator=(sshd_server const&) = delete;

    // Why sshd cannot run here (not root, programs missing), or empty.
    static QString unavailable_reason();

    // Starts sshd; for `login::password`, root's password there is
    // `password`. Returns false with `error` set when it does not come up.
    bool start(login mode, QByteArray const& password, QString& error);
    void stop();

    quint16 port() const { return port_; }
    QString folder() const { return dir_.path(); }
    // The client's private key, in OpenSSH format and as a PuTTY .ppk.
    QString client_key() const;
    QString client_ppk() const;
    // The base64 blob of the server's public host key.
    QByteArray host_key_blob() const;
    // What sshd logged on standard error so far.
    QByteArray log();

private:
    bool run(QString const& program, QStringList const& arguments, QByteArray const& input,
             QByteArray* output, QString& error);

    QTemporaryDir dir_;
    QProcess process_;
    QByteArray log_;
    quint16 port_ = 0;
};

// A free TCP port on 127.0.0.1 (free when asked; the caller binds it soon).
quint16 free_loopback_port();

} // namespace kelvra::testing
