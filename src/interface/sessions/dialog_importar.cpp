#include "interface/sessions/dialog_importar.hpp"

#include "interface/question.hpp"

#include "interface/sessions/dialog_novo.hpp"
#include "interface/sessions/widget_base.hpp"
#include "interface/show_error.hpp"
#include "sessions/session_transfer.hpp"
#include "ui_dialog_importar.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

namespace {

QString tr_(char const* text) {
    return QCoreApplication::translate("dialog_importar", text);
}

} // namespace

dialog_importar::dialog_importar(QString file_name, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_importar>()),
      file_name_(std::move(file_name)) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    ui_->widget_session->list()->setAccessibleName(windowTitle());
}

dialog_importar::~dialog_importar() = default;

int dialog_importar::exec() {
    result::stack status;
    QVector<session> const found = load_import_document(file_name_, status);
    if (status.has_failed()) {
        show_error(this, status);
        return QDialog::Rejected;
    }
    QListWidget* list = ui_->widget_session->list();
    for (session const& s : found) {
        ui_->widget_session->add_session(s, true);
        list->item(list->count() - 1)->setCheckState(Qt::Unchecked);
    }
    return QDialog::exec();
}

void dialog_importar::reject() {
    confirm_cancel_import();
}

void dialog_importar::on_btn_cancelar_clicked() {
    confirm_cancel_import();
}

void dialog_importar::on_btn_importar_clicked() {
    import_sessions();
}

void dialog_importar::import_sessions() {
    QVector<session> const chosen = ui_->widget_session->checked_sessions();
    if (chosen.isEmpty()) {
        QMessageBox::information(
            this, tr_("Erro"), tr_("Selecione ao menos uma sessão para importar"), QMessageBox::Ok);
        return;
    }
    for (session const& s : chosen) {
        // Saved there as a new session of this installation; a cancelled
        // one is skipped.
        dialog_novo dialog(this);
        dialog.findChild<widget_base*>(QStringLiteral("session_widget"))->fill_from_session(s);
        dialog.exec();
    }
    accept();
}

void dialog_importar::confirm_cancel_import() {
    if (ask(this, tr_("Cancelar Importação"),
            tr_("Tem certeza que deseja interromper a importação ?"), {tr_("Não"), tr_("Sim")},
            tr_("Sim"), tr_("Não")) == tr_("Sim")) {
        QDialog::reject();
    }
}

} // namespace kelvra::interface::sessions
