#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

class QWidget;

namespace kelvra::interface {

// Shows a failed stack to the user: a warning box with `text` as its summary
// and a "Mostrar Mais" button that opens the details of every item, ready to
// be copied for support. Returns when the user has closed the windows; a
// stack that has not failed shows nothing. Both windows are top-level and
// modal, whatever `parent` is.
void show_error(QWidget* parent, QString const& text, brano::core::v6::result::stack const& stack);

// The same, with the message of the stack's first item as the summary.
void show_error(QWidget* parent, brano::core::v6::result::stack const& stack);

namespace detail {

// The rich text of the details window: for each item its category name, its
// message and its named arguments. Category names and messages are markup
// (the categories are the program's own); argument names and values come from
// files, peers and users and are shown literally. Empty for a clean stack.
QString details_html(brano::core::v6::result::stack const& stack);

} // namespace detail

} // namespace kelvra::interface
