#pragma once

#include <brano/core/v6/result.hpp>

#include <memory>
#include <string>

namespace kelvra::commandline {

// An option the program accepts, named without its leading dashes.
struct option {
    std::string name;
    std::string description;
};

// An option found on the command line, with its value (empty without one).
struct parsed_option {
    std::string name;
    std::string description;
    std::string value;
};

namespace detail {

enum class token_kind : std::int32_t { option = 0, value = 1 };

struct token;

// Deletes a token and all its successors, without recursion.
struct token_deleter {
    void operator()(token* head) const noexcept;
};

using token_ptr = std::unique_ptr<token, token_deleter>;

// One lexical token; the tokens of a parse form a chain owned by its head.
struct token {
    token_kind kind;
    std::string text;
    token_ptr next;
};

} // namespace detail

// Turns argc/argv into options with values. The parser never prints
// anything; failures go to the result stack.
class parser {
public:
    parser();
    ~parser();
    parser(parser const&) = delete;
    parser& operator=(parser const&) = delete;
    parser(parser&&) noexcept;
    parser& operator=(parser&&) noexcept;

    void add_option(option const& opt);
    void parse(int argc, char** argv, brano::core::v6::result::stack& status);
    bool has_option(option const& opt) const;
    std::string get_value(option const& opt) const;

private:
    struct private_part;
    std::unique_ptr<private_part> d_;
};

} // namespace kelvra::commandline
