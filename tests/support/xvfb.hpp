#pragma once

// A private X server for tests that run real windows, and xdotool to look
// at them and drive them.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kelvra::testing {

// Xvfb on a display number that the server picks itself (so tests never
// collide on a fixed one), stopped when the object goes.
class xvfb {
public:
    xvfb();
    ~xvfb();
    xvfb(xvfb const&) = delete;
    xvfb& operator=(xvfb const&) = delete;

    bool is_ready() const { return !display_.isEmpty(); }
    // ":N", for DISPLAY.
    QString display() const { return display_; }
    QString error() const { return error_; }

private:
    QProcess server_;
    QString display_;
    QString error_;
};

// Runs xdotool on the display in DISPLAY; whether it succeeded (a search
// that finds no window fails). Its output lines go to `lines`.
bool xdotool(QStringList const& arguments, QStringList* lines = nullptr);

// Ids of the mapped windows titled exactly `title` (a plain text).
QStringList visible_windows(QString const& title);

// Ids of the mapped windows of the process `pid`.
QStringList visible_windows_of(qint64 pid);

} // namespace kelvra::testing
