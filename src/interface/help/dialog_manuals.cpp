#include "interface/help/dialog_manuals.hpp"

#include "ui_dialog_manuals.h"

namespace kelvra::interface::help {

dialog_manuals::dialog_manuals(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_manuals>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->list_widget_manuais->setCurrentRow(0);
    ui_->stacked_widget_manuais->setCurrentIndex(0);
}

dialog_manuals::~dialog_manuals() = default;

} // namespace kelvra::interface::help
