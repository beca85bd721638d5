#pragma once

#include <brano/core/v6/result.hpp>

#include <cstddef>
#include <iterator>

namespace kelvra::detail {

// A status category whose messages are a fixed table indexed from code 1.
// `Derived` provides `category_name` and `messages`; every category class
// has exactly one object, built on first use (thread-safe) and destroyed at
// process exit.
template <class Derived> class listed_category : public brano::core::v6::result::category {
public:
    static Derived const& instance() {
        static Derived const object;
        return object;
    }

    char const* name() const noexcept override { return Derived::category_name; }

    char const* message(int code) const override {
        constexpr auto count = static_cast<int>(std::size(Derived::messages));
        if (code < 1 || code > count) {
            show_invalid_value_message_and_exit(code);
        }
        return Derived::messages[code - 1];
    }

    static constexpr int size() noexcept { return static_cast<int>(std::size(Derived::messages)); }

protected:
    listed_category() = default;
};

} // namespace kelvra::detail
