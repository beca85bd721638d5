// kelvra-senha-suporte: the support desk's side of the support mode. Given
// the temporary code and the client code that the workstation shows, it
// prints the password that opens the support session there. With
// --constantes it prints the values the derivation uses, so that other
// systems of the desk can be checked against it. Standard library only: the
// desk copies it anywhere, it needs no display and no installation.
//
// Exit status: 0 with the answer, 1 for a temporary code that cannot be
// right, 64 for a wrong command line.
#include "core/support_code.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace code = kelvra::support_code;

namespace {

constexpr int status_refused = 1;
constexpr int status_usage = 64;

char const usage[] = "uso: kelvra-senha-suporte CODIGO_TEMPORARIO CODIGO_CLIENTE\n"
                     "     kelvra-senha-suporte --constantes\n"
                     "Mostra a senha do modo suporte para o código temporário e o código do\n"
                     "cliente que aparecem na tela de suporte do Kelvra.\n";

int print_usage(std::FILE* out, int status) {
    std::fputs(usage, out);
    return status;
}

// A whole decimal integer with an optional minus sign, within 64 bits.
bool parse_client_code(char const* text, std::int64_t& value) {
    std::string_view const digits = text[0] == '-' ? text + 1 : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long const parsed = std::strtoll(text, &end, 10);
    if (errno == ERANGE || *end != '\0') {
        return false;
    }
    value = parsed;
    return true;
}

int refuse(char const* reason) {
    std::fprintf(stderr, "kelvra-senha-suporte: %s\n", reason);
    return status_refused;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--constantes") {
        std::printf("alfabeto %.*s\ninicial %u\nmultiplicador %llu\nmodulo %llu\n",
                    static_cast<int>(code::alphabet.size()), code::alphabet.data(),
                    unsigned{code::start_value}, static_cast<unsigned long long>(code::multiplier),
                    static_cast<unsigned long long>(code::modulus));
        return 0;
    }
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        return print_usage(stdout, 0);
    }
    std::int64_t client_code = 0;
    if (argc != 3 || !parse_client_code(argv[2], client_code)) {
        return print_usage(stderr, status_usage);
    }

    std::string_view const temporary = argv[1];
    if (temporary.size() != code::code_length) {
        std::fprintf(stderr,
                     "kelvra-senha-suporte: o código temporário deve ter %zu caracteres, mas "
                     "\"%.*s\" tem %zu\n",
                     code::code_length, static_cast<int>(temporary.size()), temporary.data(),
                     temporary.size());
        return status_refused;
    }
    // A misheard or upper-case character would give a password that the
    // workstation refuses without saying why: say it here.
    if (temporary.find_first_not_of(code::alphabet) != std::string_view::npos) {
        return refuse("o código temporário tem caracteres que não aparecem nos códigos do "
                      "Kelvra (só letras minúsculas e algarismos); confira o código com o "
                      "cliente");
    }
    std::optional<std::string> const password = code::support_password(temporary, client_code);
    if (!password) {
        return refuse("o código temporário está incorreto: o último caractere não confere com "
                      "os outros; confira o código com o cliente");
    }
    std::printf("%s\n", password->c_str());
    return 0;
}
