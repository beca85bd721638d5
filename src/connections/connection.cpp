#include "connections/connection.hpp"

namespace kelvra {

connection connection::from_session(session const& s) {
    connection c;
    c.auth_type = s.tipo_autenticacao;
    c.name = s.nome;
    c.host = s.host;
    c.port = s.porta;
    c.user = s.usuario;
    c.session_key = s.key;
    c.printers = s.impressoras;
    c.autostart = s.autostart;
    c.maximized = s.maximized;
    return c;
}

} // namespace kelvra
