#pragma once

#include "sessions/session.hpp"

#include <QWidget>

#include <memory>

class QLabel;

namespace Ui {
class widget_base;
}

namespace kelvra::interface::sessions {

class widget_impressora;

// The form of one session: connection, authentication, options and
// printers. "Ok" checks the fields, seals the secret with this installation's
// key and hands a complete record with a new id to `ok_clicked`; a failure
// is shown to the user and the form stays as it was. A stored secret is
// never shown: editing a session asks for its password or key file again.
class widget_base : public QWidget {
    Q_OBJECT

public:
    explicit widget_base(QWidget* parent = nullptr);
    ~widget_base() override;

    // Puts `s` into the form, all but its secret; printers of the record
    // that this workstation lacks are left out.
    void fill_from_session(kelvra::session const& s);

signals:
    void cancel_clicked();
    void ok_clicked(kelvra::session s);

public slots:
    void on_btn_ok_clicked();
    void on_btn_cancelar_clicked();
    // Shows the rows of the chosen authentication, password or key file.
    void swap_authentication();
    void on_btn_procurar_clicked();

private:
    std::unique_ptr<Ui::widget_base> ui_;
    QLabel* placeholder_ = nullptr;
};

} // namespace kelvra::interface::sessions
