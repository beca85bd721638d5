#include "interface/preferences/dialog_aparencia.hpp"

#include "interface/preferences/appearance.hpp"
#include "interface/preferences/style.hpp"

#include "ui_dialog_aparencia.h"

#include <QCoreApplication>

namespace kelvra::interface::preferences {

dialog_aparencia::dialog_aparencia(QWidget* parent)
    : dialog_aparencia(QCoreApplication::applicationDirPath(), parent) {}

dialog_aparencia::dialog_aparencia(QString executable_dir, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_aparencia>()),
      executable_dir_(std::move(executable_dir)) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // The items are in the order of the theme values.
    ui_->cb_tipo_aparencia->setCurrentIndex(static_cast<int>(current_theme()));
}

dialog_aparencia::~dialog_aparencia() = default;

void dialog_aparencia::on_btn_ok_clicked() {
    status_.reset();
    auto const chosen = static_cast<theme>(ui_->cb_tipo_aparencia->currentIndex());
    apply_theme(chosen, status_);
    if (!status_.has_failed()) {
        current_theme() = chosen;
        detail::save_appearance(executable_dir_, current_theme(), status_);
    }
    accept();
}

void dialog_aparencia::on_btn_cancelar_clicked() {
    reject();
}

} // namespace kelvra::interface::preferences
