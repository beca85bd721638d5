#pragma once

#include <brano/core/v6/result.hpp>

namespace brano::core {
inline namespace v6 {

// Failures of text-to-number conversions: 1 = not a number, 2 = out of range.
class converter_result_category final : public result::category {
public:
    enum codes : int { invalid_number = 1, out_of_range = 2 };

    static converter_result_category const& instance();

    char const* name() const noexcept override;
    char const* message(int code) const override;

    // Fills an item pushed with this category: its "description".
    void create(result::item& item, int code) const;

private:
    converter_result_category() = default;
};

} // namespace v6
} // namespace brano::core
