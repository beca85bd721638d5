#pragma once

#include "core/listed_category.hpp"

namespace kelvra::commandline::status {

// Failures of the command-line parser. Code 2 is never reported.
class parser_category final : public kelvra::detail::listed_category<parser_category> {
public:
    enum code : int { out_of_memory = 1, option_missing = 2, unknown_option = 3, stray_value = 4 };

    static constexpr char const* category_name = "kelvra-commandline-parser";
    static constexpr char const* messages[] = {
        "Ocorreu um erro interno ao processar os arqgumentos da linha de comando",
        "Uma opção não foi informada como argumento",
        "A opção requisitada não está registrada nas opções disponíveis",
        "Foi informado um valor sem associação com uma opção válida",
    };
};

} // namespace kelvra::commandline::status
