#include "interface/preferences/dialog_configuracoes.hpp"

#include "core/settings_password.hpp"
#include "interface/show_error.hpp"
#include "ui_dialog_configuracoes.h"

#include <brano/core/v6/datetime.hpp>

#include <QCoreApplication>
#include <QMessageBox>

namespace kelvra::interface::preferences {

namespace core = brano::core::v6;

dialog_configuracoes::dialog_configuracoes(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_configuracoes>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

dialog_configuracoes::~dialog_configuracoes() = default;

void dialog_configuracoes::on_btn_ok_clicked() {
    core::result::stack status;
    QByteArray const typed = ui_->le_senha_configuracoes->text().toUtf8();
    bool const matches = is_settings_password(
        std::string_view(typed.constData(), static_cast<std::size_t>(typed.size())),
        core::datetime::now().get_date(), status);
    if (status.has_failed()) {
        show_error(this, QCoreApplication::translate("dialog_configuracoes", "Erro interno"),
                   status);
        return;
    }
    if (matches) {
        accept();
        return;
    }
    QMessageBox::warning(this, QCoreApplication::translate("dialog_configuracoes", "Kelvra"),
                         QCoreApplication::translate("dialog_configuracoes", "Senha inválida"));
}

void dialog_configuracoes::on_btn_cancelar_clicked() {
    reject();
}

} // namespace kelvra::interface::preferences
