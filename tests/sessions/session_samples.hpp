#pragma once
// What the session tests share: a record with every member set, and failures as text.
#include "sessions/session.hpp"

#include <brano/core/v6/result.hpp>

namespace kelvra::testing {

inline session sample(QString const& name = "Produção 1", QString const& id = {}) {
    session s;
    s.tipo_autenticacao = authentication_type::key_file;
    s.id = id;
    s.nome = name;
    s.host = "mirtel.example.com";
    s.porta = 2222;
    s.usuario = "joão";
    s.key = "AAECAwQ=";
    s.caminho = "/srv/mirtel";
    s.comando = "mirtel --menu \"principal\"";
    s.impressoras = {{"HP-1", "Balcão", 3}, {"EPSON", "Notas", 0}};
    s.autostart = true;
    return s;
}

// "category code [argument value]" of the first item; empty for a success.
inline QString report(brano::core::v6::result::stack const& status,
                      char const* argument = nullptr) {
    if (!status.has_failed()) {
        return {};
    }
    auto const* value = argument ? status.begin()->find_argument(argument) : nullptr;
    return QString("%1 %2").arg(status.begin()->get_category().name()).arg(status.get_value()) +
           (argument == nullptr ? "" : " " + (value ? QString::fromStdString(*value) : "<none>"));
}

} // namespace kelvra::testing
