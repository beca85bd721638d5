#include "arguments.hpp"

#include "terminal_status.hpp"

#include "core/secure_memory.hpp"

#include <charconv>

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

namespace {

using status::terminal_category;

void refuse(std::vector<std::string> const& args, std::size_t position, char const* expected,
            result::stack& status) {
    result::stack failure;
    auto& item =
        failure.push_item(terminal_category::instance(), terminal_category::invalid_arguments);
    item.set_argument("position", std::to_string(position + 1));
    item.set_argument("argument", position < args.size() ? args[position] : std::string());
    item.set_argument("expected", expected);
    status = std::move(failure);
}

// "kelvra:HOST:PORT"; false when it has another shape.
bool parse_forward(std::string const& spec, std::string& host, std::uint16_t& port) {
    std::string const prefix = "kelvra:";
    if (spec.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    std::string const rest = spec.substr(prefix.size());
    auto const colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        return false;
    }
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) {
        return false;
    }
    unsigned value = 0;
    char const* first = rest.data() + colon + 1;
    char const* last = rest.data() + rest.size();
    auto const [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

terminal_arguments::~terminal_arguments() {
    wipe(credential);
}

char const* usage_text() {
    return "uso: putty -load NOME (-pw CHAVE | -i CHAVE) [-maximized] -R kelvra:127.0.0.1:59565\n";
}

terminal_arguments parse_arguments(std::vector<std::string> const& args, result::stack& status) {
    terminal_arguments parsed;
    std::size_t i = 0;
    auto const at = [&](std::size_t n) -> std::string const* {
        return n < args.size() ? &args[n] : nullptr;
    };

    if (at(i) == nullptr || *at(i) != "-load") {
        refuse(args, i, "-load", status);
        return {};
    }
    if (at(i + 1) == nullptr || at(i + 1)->empty()) {
        refuse(args, i + 1, "o nome da sessão", status);
        return {};
    }
    parsed.session_name = *at(i + 1);
    i += 2;

    if (at(i) != nullptr && (*at(i) == "-pw" || *at(i) == "-i")) {
        parsed.kind = *at(i) == "-pw" ? credential_kind::password : credential_kind::key_file;
    } else {
        refuse(args, i, "-pw ou -i", status);
        return {};
    }
    if (at(i + 1) == nullptr || at(i + 1)->empty()) {
        refuse(args, i + 1, "a chave da sessão", status);
        return {};
    }
    parsed.credential = *at(i + 1);
    i += 2;

    if (at(i) != nullptr && *at(i) == "-maximized") {
        parsed.maximized = true;
        ++i;
    }

    if (at(i) == nullptr || *at(i) != "-R") {
        refuse(args, i, parsed.maximized ? "-R" : "-maximized ou -R", status);
        return {};
    }
    if (at(i + 1) == nullptr ||
        !parse_forward(*at(i + 1), parsed.forward_host, parsed.forward_port)) {
        refuse(args, i + 1, "kelvra:ENDEREÇO:PORTA", status);
        return {};
    }
    i += 2;

    if (i != args.size()) {
        refuse(args, i, "o fim da linha de comando", status);
        return {};
    }
    return parsed;
}

} // namespace kelvra::terminal
