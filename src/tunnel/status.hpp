#pragma once

// Status categories of the tunnel server and its request handlers.

#include "core/listed_category.hpp"

namespace kelvra::tunnel::status {

// Some messages name conditions of other systems; they keep their place so
// that every code keeps its number.
class geral_category final : public kelvra::detail::listed_category<geral_category> {
public:
    enum code : int {
        temporary_file_not_opened = 1,
        file_not_written = 2,
        print_failed = 3,
        default_printer_unavailable = 4,
        invalid_message_size = 5,
        internal_error = 6,
        not_available_on_linux = 7,
        program_files_not_found = 8,
        wordpad_not_found = 9,
        printer_unavailable = 10,
        printer_not_found = 11,
        invalid_print = 12,
        file_not_opened = 13,
        url_not_opened = 14,
        pdf_not_rendered = 15,
        cancelled_by_user = 16,
        file_too_large = 17,
    };
    static constexpr char const* category_name = "kelvra-tunnel-geral";
    static constexpr char const* messages[] = {
        "Falha ao abrir arquivo temporário",
        "Falha ao escrever no arquivo",
        "Falha ao imprimir arquivo",
        "Falha ao obter impressora padrão do computador",
        "Tamanho da mensagem inválido",
        "Erro interno",
        "Requisição ainda não disponível em sistemas Linux",
        "Falha ao obter caminho da program files",
        "Wordp não foi encontrado",
        "Falha ao obter impressora",
        "Falha ao encontrar impressora especificada",
        "Impressão realizada é inválida",
        "Não foi possível abrir o arquivo",
        "Não foi possível abrir a URL",
        "Não foi possível renderizar a imagem do PDF",
        "Operação cancelada pelo usuário",
        "Tamanho do arquivo não suportado para transferência",
    };
};

class json_category final : public kelvra::detail::listed_category<json_category> {
public:
    enum code : int {
        not_parsed = 1,
        not_an_object = 2,
        element_not_found = 3,
        invalid_kind = 4,
        invalid_version = 5,
        unexpected_value = 6,
    };
    static constexpr char const* category_name = "kelvra-tunnel-json";
    static constexpr char const* messages[] = {
        "Não foi possível montar o json a partir dos dados",
        "Formato do json inválido",
        "Elemento não encontrado",
        "Valor do campo kind é inválido",
        "Valor do campo version é inválido",
        "Valor do campo difere do esperado",
    };
};

} // namespace kelvra::tunnel::status
