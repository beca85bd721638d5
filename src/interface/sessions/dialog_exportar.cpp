#include "interface/sessions/dialog_exportar.hpp"

#include "interface/show_error.hpp"
#include "sessions/session_store.hpp"
#include "sessions/session_transfer.hpp"
#include "ui_dialog_exportar.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

namespace {

QString tr_(char const* text) {
    return QCoreApplication::translate("dialog_exportar", text);
}

} // namespace

dialog_exportar::dialog_exportar(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_exportar>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->widget_session->list()->setAccessibleName(windowTitle());
}

dialog_exportar::~dialog_exportar() = default;

int dialog_exportar::exec() {
    result::stack status;
    QVector<session> const listed = load_sessions(status);
    if (status.has_failed()) {
        show_error(this, status);
        return QDialog::Rejected;
    }
    for (session const& s : listed) {
        ui_->widget_session->add_session(s, true);
    }
    return QDialog::exec();
}

void dialog_exportar::on_btn_cancelar_clicked() {
    reject();
}

void dialog_exportar::on_btn_exportar_clicked() {
    export_sessions();
}

void dialog_exportar::export_sessions() {
    QVector<session> const chosen = ui_->widget_session->checked_sessions();
    if (chosen.isEmpty()) {
        QMessageBox::information(this, tr_("Exportação"),
                                 tr_("Selecione ao menos uma sessão para exportar"),
                                 QMessageBox::Ok);
        return;
    }
    QString const file_name = QFileDialog::getSaveFileName(
        this, tr_("Selecione o arquivo de saída"), QString(), QStringLiteral("*.json"));
    if (file_name.isEmpty()) {
        return;
    }
    result::stack status;
    write_export_document(file_name, chosen, status);
    if (status.has_failed()) {
        show_error(this, status);
        return;
    }
    accept();
}

} // namespace kelvra::interface::sessions
