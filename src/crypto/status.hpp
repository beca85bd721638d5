#pragma once

// Failures while finding the drives that hold the installation.

#include "core/listed_category.hpp"

namespace kelvra::crypto::status {

class device_category final : public kelvra::detail::listed_category<device_category> {
public:
    enum code : int { internal = 1, not_found = 2, invalid_path = 3, invalid_device_id = 4 };

    static constexpr char const* category_name = "kelvra-crypto-linux-device";
    static constexpr char const* messages[] = {
        "Ocorreu um erro interno ao obter o device",
        "Não foi possível obter o device da instalação",
        "O path para o device é inválido",
        "O id do desvice é inválido",
    };
};

class dbus_category final : public kelvra::detail::listed_category<dbus_category> {
public:
    enum code : int {
        internal = 1,
        no_reply = 2,
        unexpected_reply_type = 3,
        unexpected_value_type = 4,
        out_of_memory = 5,
        call_failed = 6,
    };

    static constexpr char const* category_name = "kelvra-crypto-linux-dbus";
    static constexpr char const* messages[] = {
        "Ocorreu um erro interno no dbus",
        "O dbus não informou nenhuma resposta",
        "Tipo inesperado da resposta do dbus",
        "Tipo inexperado para 'dbus value' interno",
        "Não foi possível alocar memória no processo do dbus",
        "Não foi possível executar um método de chamada do D-Bus",
    };
};

} // namespace kelvra::crypto::status
