#pragma once

// The application's style sheet: the light and dark looks compiled into the
// resources (see interface/resources.hpp).

#include "interface/preferences/appearance.hpp"

#include <brano/core/v6/result.hpp>

#include <QString>

namespace kelvra::interface::preferences {

extern char const light_style_path[]; // ":qdarkstyle/light/lightstyle.qss"
extern char const dark_style_path[];  // ":qdarkstyle/dark/darkstyle.qss"

// Reads the style sheet at `path` and makes it the application's.
void load_style(QString const& path, brano::core::v6::result::stack& status);

// load_style of the dark sheet.
void load_dark_style(brano::core::v6::result::stack& status);

// Applies the sheet of `value`: the light one, or the dark one for `dark`
// and `autodetect` (no desktop colours are looked at).
void apply_theme(theme value, brano::core::v6::result::stack& status);

// At start-up: loads the stored theme into current_theme() and applies it.
// On failure nothing is applied; callers show the stack with "Ocorreu um
// erro ao carregar as configurações de exibição".
void load_stored_appearance(brano::core::v6::result::stack& status);

} // namespace kelvra::interface::preferences
