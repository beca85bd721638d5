#include "interface/sessions/dialog_novo.hpp"

#include "interface/sessions/widget_base.hpp"
#include "interface/show_error.hpp"
#include "sessions/session_store.hpp"

#include "ui_dialog_novo.h"

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

dialog_novo::dialog_novo(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_novo>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    setFixedSize(frameSize());

    connect(ui_->session_widget, &widget_base::cancel_clicked, this, &QDialog::reject);
    connect(ui_->session_widget, &widget_base::ok_clicked, this, [this](session const& s) {
        result::stack status;
        save_session(s, status);
        if (status.has_failed()) {
            show_error(this, status);
            return;
        }
        accept();
    });
}

dialog_novo::~dialog_novo() = default;

} // namespace kelvra::interface::sessions
