#include "interface/sessions/dialog_criar_atalhos.hpp"

#include "connections/desktop_shortcut.hpp"
#include "interface/show_error.hpp"
#include "ui_dialog_criar_atalhos.h"

#include <QCoreApplication>

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

dialog_criar_atalhos::dialog_criar_atalhos(QVector<session> const& sessions, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_criar_atalhos>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    for (session const& s : sessions) {
        auto* item = new QListWidgetItem(s.nome, ui_->listWidget);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    connect(ui_->listWidget, &QListWidget::itemPressed, this, [this](QListWidgetItem* item) {
        pressed_ = item;
        pressed_state_ = item->checkState();
    });
    connect(ui_->listWidget, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (item == pressed_ && item->checkState() == pressed_state_) {
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        }
        pressed_ = nullptr;
    });
}

dialog_criar_atalhos::~dialog_criar_atalhos() = default;

void dialog_criar_atalhos::on_btn_confirmar_clicked() {
    bool failed = false;
    result::stack status;
    for (int i = 0; i < ui_->listWidget->count(); ++i) {
        QListWidgetItem const* item = ui_->listWidget->item(i);
        if (item->checkState() != Qt::Checked) {
            continue;
        }
        QString const name = item->text();
        write_shortcut(describe_session_shortcut(name), status);
        if (status.has_failed()) {
            failed = true;
            show_error(this,
                       QCoreApplication::translate("dialog_criar_atalhos",
                                                   "Erro ao criar atalho da sessão '") +
                           name + QLatin1Char('\''),
                       status);
            status.reset();
        }
    }
    if (failed) {
        reject();
    } else {
        accept();
    }
}

void dialog_criar_atalhos::on_btn_cancelar_clicked() {
    reject();
}

} // namespace kelvra::interface::sessions
