#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class dialog_novo;
}

namespace kelvra::interface::sessions {

// "Nova sessão": saves the session of its editor (the child widget_base
// "session_widget") as a new one. Run it modally: Accepted once the session
// is saved, Rejected on "Cancelar". A failed save is shown and the dialog
// stays open.
class dialog_novo : public QDialog {
    Q_OBJECT

public:
    explicit dialog_novo(QWidget* parent = nullptr);
    ~dialog_novo() override;

private:
    std::unique_ptr<Ui::dialog_novo> ui_;
};

} // namespace kelvra::interface::sessions
