#pragma once

#include <QString>

namespace kelvra {

// A session name as a profile file name: ASCII letters, digits and "+-.@_"
// stay, every other byte of its UTF-8 form becomes "%XX" (upper-case hex).
// The names "." and ".." would name folders, so their full stops are
// escaped too ("%2E", "%2E%2E").
QString munge_session_name(QString const& name);

// ~/.putty/sessions/<escaped name>: the terminal profile of a session.
QString putty_session_path(QString const& name);

} // namespace kelvra
