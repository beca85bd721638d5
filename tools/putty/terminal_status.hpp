#pragma once

#include "core/listed_category.hpp"

namespace kelvra::terminal::status {

// Failures of the terminal program before ssh starts.
class terminal_category final : public kelvra::detail::listed_category<terminal_category> {
public:
    enum code : int {
        invalid_arguments = 1,
        profile_not_found = 2,
        profile_field_missing = 3,
        profile_field_invalid = 4,
        unsupported_protocol = 5,
        key_expired = 6,
        secret_empty = 7,
        program_not_found = 8,
        key_file_unreadable = 9,
        key_conversion_failed = 10,
        private_directory_failed = 11,
        control_socket_failed = 12,
        start_failed = 13,
    };

    static constexpr char const* category_name = "kelvra-terminal";
    static constexpr char const* messages[] = {
        "Os argumentos do programa de terminal são inválidos",
        "O perfil da sessão não foi encontrado",
        "Um campo esperado do perfil da sessão não foi encontrado",
        "Um campo do perfil da sessão tem um valor inválido",
        "O protocolo do perfil da sessão não é suportado",
        "A chave da sessão está fora do prazo de validade",
        "A chave da sessão não contém senha nem arquivo de chave",
        "Um programa necessário não foi encontrado",
        "O arquivo de chave privada não pode ser lido",
        "Não foi possível converter a chave privada do formato PuTTY",
        "Não foi possível criar o diretório temporário privado",
        "Não foi possível criar o canal de controle do terminal",
        "Não foi possível iniciar o programa",
    };
};

} // namespace kelvra::terminal::status
