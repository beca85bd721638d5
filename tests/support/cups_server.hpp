#pragma once

#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QTemporaryDir>

namespace kelvra::testing {

// A private CUPS scheduler on a local socket in a temporary folder, whose
// printers print to /dev/null. While it lives, CUPS_SERVER points this
// process and its children at it. libcups reads that variable once, so a
// test program keeps one server and adds printers as it goes.
class cups_server {
public:
    cups_server() : old_server_(qgetenv("CUPS_SERVER")) {
        // All it writes stays in the folder; anyone may administer it.
        QString const files = QStringLiteral("ServerRoot %1\nCacheDir %1\nStateDir %1\n"
                                             "RequestRoot %1\nTempDir %1\nPrintcap %1/printcap\n"
                                             "ErrorLog stderr\nAccessLog stderr\nPageLog stderr\n"
                                             "FileDevice Yes\n");
        QString const conf = QStringLiteral("Listen %1/cups.sock\nLogLevel info\nBrowsing No\n"
                                            "DefaultAuthType None\n<Policy default>\n<Limit All>\n"
                                            "Order deny,allow\n</Limit>\n</Policy>\n");
        write_file(dir_.filePath("cups-files.conf"), files.arg(dir_.path()).toUtf8());
        write_file(dir_.filePath("cupsd.conf"), conf.arg(dir_.path()).toUtf8());
        daemon_.setProcessChannelMode(QProcess::MergedChannels);
        daemon_.start("cupsd", {"-f", "-c", dir_.filePath("cupsd.conf"), "-s",
                                dir_.filePath("cups-files.conf")});
        // It says so once its socket listens.
        for (std::optional<QByteArray> line; !line || !line->contains("Listening to ");) {
            if (!(line = wait_for_line(daemon_))) {
                error_ = "cupsd did not start: " + daemon_.errorString();
                return;
            }
        }
        qputenv("CUPS_SERVER", dir_.filePath("cups.sock").toUtf8());
    }
    ~cups_server() {
        stop_process(daemon_);
        old_server_.isNull() ? qunsetenv("CUPS_SERVER") : qputenv("CUPS_SERVER", old_server_);
    }

    // Why the scheduler did not start or the last printer was refused.
    QString error() const { return error_; }

    bool add_printer(QString const& name) {
        finished_program const done =
            run_program("lpadmin", {"-h", dir_.filePath("cups.sock"), "-p", name, "-E", "-v",
                                    "file:/dev/null"});
        error_ = done.code == 0 ? QString() : "lpadmin: " + QString::fromLocal8Bit(done.err);
        return done.code == 0;
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString error_;
    QByteArray old_server_;
};

} // namespace kelvra::testing
