#include "interface/ui/widget_session_list.hpp"

#include "ui_widget_session_list.h"

namespace kelvra::ui {

namespace {

// Registered once, under the name the items' data goes by.
int const session_type = qRegisterMetaType<session>("kelvra::session");

session session_of(QListWidgetItem const* item) {
    if (item == nullptr) {
        return {};
    }
    QVariant const data = item->data(Qt::UserRole);
    return data.userType() == session_type ? data.value<session>() : session{};
}

} // namespace

widget_session_list::widget_session_list(QWidget* parent)
    : QWidget(parent), form_(std::make_unique<Ui::widget_session_list>()) {
    form_->setupUi(this);
    connect(form_->lw_sessions, &QListWidget::customContextMenuRequested, this,
            &widget_session_list::customContextMenuRequested);
    connect(form_->lw_sessions, &QListWidget::doubleClicked, this,
            [this] { emit doubleClicked(); });
    connect(form_->lw_sessions, &QListWidget::itemClicked, this, &widget_session_list::itemClicked);
}

widget_session_list::~widget_session_list() = default;

void widget_session_list::add_session(session const& s, bool checkable) {
    auto* item = new QListWidgetItem(s.nome, form_->lw_sessions);
    item->setData(Qt::UserRole, QVariant::fromValue(s));
    if (checkable) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
}

QVector<session> widget_session_list::checked_sessions() const {
    QVector<session> out;
    for (int i = 0; i < form_->lw_sessions->count(); ++i) {
        QListWidgetItem const* item = form_->lw_sessions->item(i);
        if (item->checkState() == Qt::Checked) {
            out.push_back(session_of(item));
        }
    }
    return out;
}

session widget_session_list::current_session() const {
    return session_of(form_->lw_sessions->currentItem());
}

bool widget_session_list::has_current() const {
    return form_->lw_sessions->currentItem() != nullptr;
}

QListWidget* widget_session_list::list() const {
    return form_->lw_sessions;
}

} // namespace kelvra::ui
