#pragma once

// The program's own status categories.

#include "core/listed_category.hpp"

namespace kelvra::status {

class application_directories_category final
    : public detail::listed_category<application_directories_category> {
public:
    static constexpr char const* category_name = "kelvra-application-directories";
    static constexpr char const* messages[] = {
        "Um diretório da aplicação não foi encontrado",
        "O programa putty não foi encontrado",
        "O registro do diretório de instalação não foi encontrado",
    };
};

class config_category final : public detail::listed_category<config_category> {
public:
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
    static constexpr char const* category_name = "kelvra-load-style";
    static constexpr char const* messages[] = {
        "Não foi possível abrir o arquivo de configuração de interface",
        "O arquivo não foi encontrado",
    };
};

class manager_category final : public detail::listed_category<manager_category> {
public:
    static constexpr char const* category_name = "kelvra-manager";
    static constexpr char const* messages[] = {
        "O id da conexão não existe",
    };
};

class persist_session_category final : public detail::listed_category<persist_session_category> {
public:
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
    static constexpr char const* category_name = "kelvra-settings-error";
    static constexpr char const* messages[] = {
        "Não foi possível atribuir uma configuração ao putty",
        "Não foi possível obter o tipo de impressora para o putty",
    };
};

class suporte_session_category final : public detail::listed_category<suporte_session_category> {
public:
    static constexpr char const* category_name = "kelvra-suporte-session";
    static constexpr char const* messages[] = {
        "A senha informada está inválida",
        "Ocorreu um erro ao gerar a senha",
    };
};

} // namespace kelvra::status
