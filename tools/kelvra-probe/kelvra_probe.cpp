// kelvra-probe: checks, on the server, that a Kelvra connection reaches the
// workstation. It reads KELVRA_CONNECTION_ID from the environment, connects
// to the forward the terminal program opened (/tmp/kelvra-<connection id>),
// sends one request and prints the reply.
//
// Only the C++ standard library and POSIX: copy the binary to any Linux
// server.
//
// Exit status: 0 a reply, 1 an error reply, 2 no connection to the
// workstation (no connection id, no forward, no answer), 3 a reply that is
// not a JSON object, 64 a wrong command line.
#include "probe.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int exit_usage = 64;

void usage(std::FILE* out) {
    std::fputs("uso: kelvra-probe [--kind TIPO] [--version N] [--socket CAMINHO] "
               "[--timeout SEGUNDOS]\n"
               "  Envia uma requisição ao Kelvra da estação pela conexão SSH em que roda\n"
               "  e mostra a resposta (padrão: PrinterListRequest, versão 1).\n"
               "  Saída: 0 resposta, 1 resposta de erro, 2 sem conexão com a estação,\n"
               "  3 resposta inválida.\n",
               out);
}

bool parse_int(char const* text, long long low, long long high, long long& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long long const parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    kelvra::probe::request request;
    request.kind = "PrinterListRequest";
    request.version = 1;
    std::string socket_path;
    long long timeout_seconds = 10;

    for (int i = 1; i < argc; ++i) {
        std::string const option = argv[i];
        char const* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--help" || option == "-h") {
            usage(stdout);
            return 0;
        }
        if (value == nullptr) {
            std::fprintf(stderr, "kelvra-probe: opção inválida ou sem valor: %s\n", argv[i]);
            usage(stderr);
            return exit_usage;
        }
        long long number = 0;
        if (option == "--kind" && *value != '\0') {
            request.kind = value;
        } else if (option == "--version" && parse_int(value, -2147483648LL, 2147483647LL, number)) {
            request.version = static_cast<int>(number);
        } else if (option == "--socket" && *value != '\0') {
            socket_path = value;
        } else if (option == "--timeout" && parse_int(value, 1, 3600, number)) {
            timeout_seconds = number;
        } else {
            std::fprintf(stderr, "kelvra-probe: opção inválida: %s %s\n", argv[i], value);
            usage(stderr);
            return exit_usage;
        }
        ++i;
    }

    char const* id = std::getenv("KELVRA_CONNECTION_ID");
    if (id == nullptr || !kelvra::probe::is_connection_id(id)) {
        std::fputs("kelvra-probe: KELVRA_CONNECTION_ID não chegou ao servidor ou é inválido "
                   "(o servidor precisa de \"AcceptEnv KELVRA_*\")\n",
                   stderr);
        return kelvra::probe::exit_unreachable;
    }
    request.connection_id = id;
    if (socket_path.empty()) {
        socket_path = kelvra::probe::socket_path(request.connection_id);
    }

    std::string reply;
    std::string error;
    int const result = kelvra::probe::exchange(
        socket_path, request, static_cast<int>(timeout_seconds * 1000), reply, error);
    if (!error.empty()) {
        std::fprintf(stderr, "kelvra-probe: %s\n", error.c_str());
    }
    if (!reply.empty()) {
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        std::fputc('\n', stdout);
    }
    return result;
}
