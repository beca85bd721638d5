#include <brano/core/v6/result.hpp>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace brano::core::v6::result {

category::~category() = default;

void category::show_invalid_value_message_and_exit(int code) const {
    std::fprintf(stderr, "%s: invalid status code %d\n", name(), code);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

argument::argument(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

item::item(category const& cat, int code) : category_(&cat), code_(code) {}

item& item::set_argument(std::string const& name, std::string value) {
    for (auto& existing : arguments_) {
        if (existing.name_ == name) {
            existing.value_ = std::move(value);
            return *this;
        }
    }
    arguments_.emplace_back(name, std::move(value));
    return *this;
}

std::string item::get_message() const {
    return category_->message(code_);
}

std::string const* item::find_argument(std::string const& name) const noexcept {
    for (auto const& existing : arguments_) {
        if (existing.name_ == name) {
            return &existing.value_;
        }
    }
    return nullptr;
}

item& stack::push_item(category const& cat, int code) {
    return items_.emplace_back(cat, code);
}

int stack::get_value() const noexcept {
    return items_.empty() ? 0 : items_.front().get_code();
}

std::string stack::get_message() const {
    return items_.empty() ? std::string() : items_.front().get_message();
}

} // namespace brano::core::v6::result
