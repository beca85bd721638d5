#pragma once

#include "sessions/session.hpp"

#include <QDir>
#include <QStringList>
#include <QString>
#include <QTemporaryDir>

namespace kelvra::testing {

// A private HOME and XDG_RUNTIME_DIR for the test process (and its
// children), removed when the object goes. Tests never touch the real home.
class isolated_home {
public:
    isolated_home();
    ~isolated_home();
    isolated_home(isolated_home const&) = delete;
    isolated_home& operator=(isolated_home const&) = delete;

    QString home() const;
    QString runtime_dir() const;

private:
    QTemporaryDir dir_;
    QByteArray old_home_;
    QByteArray old_runtime_;
};

// A temporary installation root: bin/, etc/, var/sessions/, libexec/.
class install_root {
public:
    install_root();

    bool is_valid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }
    QString bin() const { return dir_.filePath(QStringLiteral("bin")); }
    QString file(QString const& relative) const { return dir_.filePath(relative); }

    // Writes `content` to root/`relative`, creating the folders on the way.
    bool write(QString const& relative, QByteArray const& content) const;
    // Copies the program at `program` to root/`relative` ("bin/kelvra",
    // "libexec/putty"), replacing what was there.
    bool install(QString const& program, QString const& relative) const;
    // Saves `s` in var/sessions/ as the program does.
    bool save(session const& s) const;

private:
    QTemporaryDir dir_;
};

// Kelvra finds its installation from its own executable, so a test program
// that needs one copies itself to `relative` ("bin/tst_x") of a temporary
// installation and runs there with the same arguments, through `wrapper`
// (a program and its arguments) when one is given. run_installed needs a
// QCoreApplication and returns the exit status of that run (2 when it could
// not be set up, 3 when it crashed); in_installation tells the run inside.
bool in_installation();
int run_installed(QString const& relative, QStringList const& wrapper = {});

// Path of a file in tests/data.
QString data_file(QString const& relative);

QByteArray read_file(QString const& path);
// Writes `content` to `path`, creating the folders on the way.
bool write_file(QString const& path, QByteArray const& content);

// Why nothing can listen on loopback port `port` now ("port 59565 is taken
// by another program: ..."), or empty when it is free.
QString port_taken(quint16 port);

} // namespace kelvra::testing
