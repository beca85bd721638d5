#include "commandline/parser.hpp"

#include "commandline/status.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace kelvra::commandline {

namespace result = brano::core::v6::result;

namespace detail {

void token_deleter::operator()(token* head) const noexcept {
    // Unlink the chain first so that a long command line never recurses.
    while (head != nullptr) {
        token* next = head->next.release();
        delete head;
        head = next;
    }
}

} // namespace detail

namespace {

using detail::token;
using detail::token_kind;
using detail::token_ptr;

bool all_digits(std::string const& text, std::size_t from) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The kind of a piece cut from an argument. A lone "-" and negative integers
// such as "-5" are values, so that an option may take them.
token_kind classify(std::string const& piece) {
    if (piece.size() >= 2 && piece[0] == '-' && piece[1] == '-') {
        return token_kind::option;
    }
    if (!piece.empty() && piece[0] == '-' && !all_digits(piece, 1)) {
        return token_kind::option;
    }
    return token_kind::value;
}

void fail_out_of_memory(result::stack& status) {
    result::stack failure;
    failure.push_item(status::parser_category::instance(), status::parser_category::out_of_memory)
        .set_argument(
            "description",
            "Não foi possível alocar memória suficiente para o processamento dos argumentos");
    status = std::move(failure);
}

// Cuts one argument into tokens and appends them at `tail`. Returns the new
// tail, or nullptr when a token could not be allocated.
token_ptr* tokenize_argument(std::string rest, token_ptr* tail) {
    while (!rest.empty()) {
        std::size_t n = rest.find('=');
        if (n == 0) {
            n = 1;
        } else if (n == std::string::npos) {
            n = rest.size();
        }
        std::string piece = rest.substr(0, n);
        rest.erase(0, n);

        token_ptr next(new (std::nothrow) token{});
        if (!next) {
            return nullptr;
        }
        if (piece == "=") {
            next->kind = token_kind::value;
            next->text = std::move(rest);
            rest.clear();
        } else if (classify(piece) == token_kind::option) {
            next->kind = token_kind::option;
            next->text = piece.substr(piece.find_first_not_of('-') == std::string::npos
                                          ? piece.size()
                                          : piece.find_first_not_of('-'));
        } else {
            next->kind = token_kind::value;
            next->text = std::move(piece);
        }
        *tail = std::move(next);
        tail = &(*tail)->next;
    }
    return tail;
}

} // namespace

struct parser::private_part {
    std::vector<option> options;
    std::vector<parsed_option> parsed;

    option const* find(std::string const& name) const {
        auto it = std::find_if(options.begin(), options.end(),
                               [&](option const& o) { return o.name == name; });
        return it == options.end() ? nullptr : &*it;
    }

    parsed_option const* find_parsed(std::string const& name) const {
        auto it = std::find_if(parsed.begin(), parsed.end(),
                               [&](parsed_option const& o) { return o.name == name; });
        return it == parsed.end() ? nullptr : &*it;
    }
};

parser::parser() : d_(std::make_unique<private_part>()) {}
parser::~parser() = default;
parser::parser(parser&&) noexcept = default;
parser& parser::operator=(parser&&) noexcept = default;

void parser::add_option(option const& opt) {
    d_->options.push_back(opt);
}

void parser::parse(int argc, char** argv, result::stack& status) {
    if (argc < 2 || argv == nullptr) {
        return;
    }

    token_ptr head;
    token_ptr* tail = &head;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) {
            continue;
        }
        tail = tokenize_argument(argv[i], tail);
        if (tail == nullptr) {
            fail_out_of_memory(status);
            return;
        }
    }
    if (status.has_failed()) {
        return;
    }

    for (token const* current = head.get(); current != nullptr; current = current->next.get()) {
        if (current->kind == token_kind::value) {
            result::stack failure;
            failure
                .push_item(status::parser_category::instance(),
                           status::parser_category::stray_value)
                .set_argument("option-value", current->text);
            status = std::move(failure);
            return;
        }
        option const* registered = d_->find(current->text);
        if (registered == nullptr) {
            result::stack failure;
            failure
                .push_item(status::parser_category::instance(),
                           status::parser_category::unknown_option)
                .set_argument("option-name", current->text);
            status = std::move(failure);
            return;
        }
        std::string value;
        token const* next = current->next.get();
        if (next != nullptr && next->kind == token_kind::value) {
            value = next->text;
            current = next;
        }
        d_->parsed.push_back({registered->name, registered->description, std::move(value)});
    }
}

bool parser::has_option(option const& opt) const {
    return d_->find_parsed(opt.name) != nullptr;
}

std::string parser::get_value(option const& opt) const {
    parsed_option const* found = d_->find_parsed(opt.name);
    return found == nullptr ? std::string() : found->value;
}

} // namespace kelvra::commandline
