#pragma once

#include "sessions/session.hpp"

namespace kelvra {

// The launch parameters of one connection, taken from a session record.
struct connection {
    authentication_type auth_type = authentication_type::password;
    QString name;
    QString host;
    std::int32_t port = 0;
    QString user;
    QString session_key; // the stored, encrypted session key text
    QVector<printer> printers;
    bool autostart = false;
    bool maximized = false;

    static connection from_session(session const& s);
};

} // namespace kelvra
