#include "interface/sessions/dialog_alterar.hpp"

#include "interface/sessions/widget_base.hpp"
#include "interface/show_error.hpp"
#include "sessions/session_store.hpp"

#include "ui_dialog_alterar.h"

#include <algorithm>

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

namespace {

// Whether the store lists a session with the id `id`.
bool stored(QString const& id) {
    result::stack status;
    QVector<session> const all = load_sessions(status);
    return std::any_of(all.begin(), all.end(), [&](session const& s) { return s.id == id; });
}

} // namespace

dialog_alterar::dialog_alterar(session const& old_session, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_alterar>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->session_widget->fill_from_session(old_session);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    setFixedSize(frameSize());

    connect(ui_->session_widget, &widget_base::cancel_clicked, this, &QDialog::reject);
    connect(ui_->session_widget, &widget_base::ok_clicked, this,
            [this, old_session](session const& edited) {
                result::stack status;
                replace_session(old_session, edited, status);
                if (!status.has_failed()) {
                    accept();
                    return;
                }
                if (!stored(edited.id)) {
                    // Nothing was written: the old session is as it was.
                    show_error(this, status);
                    return;
                }
                // The edited session is stored but the old one stayed beside
                // it. Another "Ok" would store a third copy, so the dialog
                // closes and the list shows both.
                show_error(this, QStringLiteral("Ocorreu um erro ao deletar a antiga sessão"),
                           status);
                accept();
            });
}

dialog_alterar::~dialog_alterar() = default;

} // namespace kelvra::interface::sessions
