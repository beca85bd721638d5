#pragma once

// The stored look of the program: etc/interface.json, {"aparencia": "..."}.
// Files and JSON only, no widgets.

#include <brano/core/v6/result.hpp>

#include <QString>

#include <cstdint>

namespace kelvra::interface::preferences {

enum class theme : std::int32_t { light = 0, dark = 1, autodetect = 2 };

// The process-wide theme; `autodetect` until something sets it.
theme& current_theme();

// Reads etc/interface.json into `value`. A missing file is first written with
// the present `value`. On failure `value` keeps what it had.
void load_appearance(theme& value, brano::core::v6::result::stack& status);

// Replaces etc/interface.json with `value`; the old file stays whole when the
// new one cannot be written.
void save_appearance(theme const& value, brano::core::v6::result::stack& status);

namespace detail {

// The same for the installation whose executable lives in `executable_dir`.
void load_appearance(QString const& executable_dir, theme& value,
                     brano::core::v6::result::stack& status);
void save_appearance(QString const& executable_dir, theme const& value,
                     brano::core::v6::result::stack& status);

} // namespace detail

} // namespace kelvra::interface::preferences
