#pragma once

// The program's own status categories.

#include "core/listed_category.hpp"

namespace kelvra::status {

class application_directories_category final
    : public detail::listed_category<application_directories_category> {
public:
    enum code : int { directory_not_found = 1, putty_not_found = 2, installation_not_found = 3 };
    static constexpr char const* category_name = "kelvra-application-directories";
    static constexpr char const* messages[] = {
        "Um diretório da aplicação não foi encontrado",
        "O programa putty não foi encontrado",
        "O registro do diretório de instalação não foi encontrado",
    };
};

class config_category final : public detail::listed_category<config_category> {
public:
    enum code : int {
        cannot_open = 1,
        file_not_found = 2,
        element_not_found = 3,
        cannot_write = 4,
        cannot_read = 5,
        unexpected_value = 6,
    };
    static constexpr char const* category_name = "kelvra-config";
    static constexpr char const* messages[] = {
        "Não foi possível abrir o arquivo de configuração",
        "O arquivo não foi encontrado",
        "Elemento não encontrado",
        "Não foi possível escrever no arquivo configuração",
        "Não foi possível ler o arquivo configuração",
        "Valor do campo difere do esperado",
    };
};

class load_session_category final : public detail::listed_category<load_session_category> {
public:
    enum code : int {
        empty_name = 1,
        empty_host = 2,
        empty_user = 3,
        empty_password = 4,
        empty_path = 5,
        empty_command = 6,
        wrong_value = 7,
        not_found = 8,
        invalid_command = 9,
        empty_key = 10,
        invalid_authentication = 11,
        file_error = 12,
        missing_field = 13,
    };
    static constexpr char const* category_name = "kelvra-load-session";
    static constexpr char const* messages[] = {
        "O nome da sessão está vazio",
        "O host da sessão está vazio",
        "O usuário da sessão está vazio",
        "A senha da sessão está vazia",
        "O caminho da sessão está vazio",
        "O comando da sessão está vazio",
        "Um valor cadastrado da sessão não corresponde ao esperado",
        "A sessão não foi encontrada",
        "O comando da sessão está inválido",
        "A chave da sessão está vazia",
        "O tipo de autenticação está inválido",
        "Ocorreu um erro ao manipular o arquivo referente à sessão",
        "Um campo esperado da sessão não foi encontrado",
    };
};

class load_style_category final : public detail::listed_category<load_style_category> {
public:
    enum code : int { cannot_open = 1, file_not_found = 2 };
    static constexpr char const* category_name = "kelvra-load-style";
    static constexpr char const* messages[] = {
        "Não foi possível abrir o arquivo de configuração de interface",
        "O arquivo não foi encontrado",
    };
};

class manager_category final : public detail::listed_category<manager_category> {
public:
    enum code : int { unknown_connection_id = 1 };
    static constexpr char const* category_name = "kelvra-manager";
    static constexpr char const* messages[] = {
        "O id da conexão não existe",
    };
};

class persist_session_category final : public detail::listed_category<persist_session_category> {
public:
    enum code : int {
        name_taken = 1,
        cannot_remove = 2,
        file_error = 3,
        key_generation_failed = 4,
    };
    static constexpr char const* category_name = "kelvra-persist-session";
    static constexpr char const* messages[] = {
        "Já existe uma sessão com este nome",
        "Não foi possível remover a sessão",
        "Ocorreu um erro ao manipular o arquivo referente à sessão",
        "Ocorreu um erro ao gerar a chave de segurança da sessão",
    };
};

class settings_error_category final : public detail::listed_category<settings_error_category> {
public:
    enum code : int { cannot_set = 1, printer_type_unavailable = 2 };
    static constexpr char const* category_name = "kelvra-settings-error";
    static constexpr char const* messages[] = {
        "Não foi possível atribuir uma configuração ao putty",
        "Não foi possível obter o tipo de impressora para o putty",
    };
};

class suporte_session_category final : public detail::listed_category<suporte_session_category> {
public:
    enum code : int { invalid_password = 1, generation_failed = 2 };
    static constexpr char const* category_name = "kelvra-suporte-session";
    static constexpr char const* messages[] = {
        "A senha informada está inválida",
        "Ocorreu um erro ao gerar a senha",
    };
};

} // namespace kelvra::status
