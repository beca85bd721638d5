#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

namespace kelvra {

// How the terminal program authenticates. `invalid` is produced only when a
// stored session holds a number other than 0 and 1.
enum class authentication_type : std::int32_t { password = 0, key_file = 1, invalid = 2 };

// A printer offered to the remote side.
struct printer {
    QString identificador;
    QString nome;
    std::int32_t tipo = 0;

    friend bool operator==(printer const& a, printer const& b) {
        return a.identificador == b.identificador && a.nome == b.nome && a.tipo == b.tipo;
    }
};

// A saved session. The secret never stands here in clear: it travels inside
// the session key text `key`.
struct session {
    authentication_type tipo_autenticacao = authentication_type::password;
    QString id;        // base name of the session's file; not part of its JSON
    QString file_name; // the file the record was read from (in memory only)
    QString nome;
    QString host;
    std::int32_t porta = 0;
    QString usuario;
    QString key;
    QString caminho;
    QString comando;
    QVector<printer> impressoras;
    bool autostart = false;
    bool maximized = false;

    friend bool operator==(session const& a, session const& b) {
        // file_name is where a record came from, not part of the record.
        return a.tipo_autenticacao == b.tipo_autenticacao && a.id == b.id && a.nome == b.nome &&
               a.host == b.host && a.porta == b.porta && a.usuario == b.usuario && a.key == b.key &&
               a.caminho == b.caminho && a.comando == b.comando && a.impressoras == b.impressoras &&
               a.autostart == b.autostart && a.maximized == b.maximized;
    }
    friend bool operator!=(session const& a, session const& b) { return !(a == b); }
};

} // namespace kelvra
