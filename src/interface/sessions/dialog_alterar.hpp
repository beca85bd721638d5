#pragma once

#include "sessions/session.hpp"

#include <QDialog>

#include <memory>

namespace Ui {
class dialog_alterar;
}

namespace kelvra::interface::sessions {

// "Alterar sessão": the editor filled with `old_session`; "Ok" replaces it
// with the edited record, which is written before the old one is removed,
// so a failure never loses the session. Run it modally: Accepted once the
// edited session is stored, Rejected on "Cancelar".
class dialog_alterar : public QDialog {
    Q_OBJECT

public:
    explicit dialog_alterar(kelvra::session const& old_session, QWidget* parent = nullptr);
    ~dialog_alterar() override;

private:
    std::unique_ptr<Ui::dialog_alterar> ui_;
};

} // namespace kelvra::interface::sessions
