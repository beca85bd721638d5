#pragma once

#include "sessions/session.hpp"

#include <QDialog>
#include <QVector>

#include <memory>

class QListWidgetItem;

namespace Ui {
class dialog_criar_atalhos;
}

namespace kelvra::interface::sessions {

// Creates desktop launchers for several sessions: one checkable entry per
// session, all checked; a click on an entry toggles it. Confirming writes a
// launcher for every checked entry; one that fails is shown and the others
// still follow. The dialog is accepted only when none failed.
class dialog_criar_atalhos : public QDialog {
    Q_OBJECT

public:
    dialog_criar_atalhos(QVector<session> const& sessions, QWidget* parent);
    ~dialog_criar_atalhos() override;

private slots:
    void on_btn_confirmar_clicked();
    void on_btn_cancelar_clicked();

private:
    std::unique_ptr<Ui::dialog_criar_atalhos> ui_;
    // The entry under the last mouse press and its state then: a click on
    // the check box itself has already toggled it.
    QListWidgetItem* pressed_ = nullptr;
    Qt::CheckState pressed_state_ = Qt::Unchecked;
};

} // namespace kelvra::interface::sessions
