#pragma once

#include <QDialog>

#include <memory>

class QPropertyAnimation;

namespace Ui {
class dialog_suporte;
}

namespace kelvra {
class installation_config;
}

namespace kelvra::interface::support {

// The lock of the support mode: shows the client's code and trade name and a
// temporary code that is replaced every three minutes (the bar runs out, red
// in its last stretch); the support desk answers the codes with a password,
// and only that password accepts the dialog.
class dialog_suporte : public QDialog {
    Q_OBJECT

public:
    // `config` is the installation's own configuration unless another is
    // given; it must outlive the dialog.
    explicit dialog_suporte(QWidget* parent = nullptr, installation_config const* config = nullptr);
    ~dialog_suporte() override;

    // Shows the client data and a new code, then runs modally. Rejected
    // without showing anything when the client data or a code cannot be had.
    int exec() override;

    // Draws a new temporary code and shows it; on failure says so, rejects
    // the dialog and shows no code. False on failure.
    bool make_temporary_code();

public slots:
    void on_btn_copiar_codigo_clicked();
    void on_btn_cancelar_clicked();
    void on_btn_ok_clicked();

private:
    installation_config const& config() const;
    void set_chunk_colour(int value);
    void renew();

    std::unique_ptr<Ui::dialog_suporte> ui_;
    QPropertyAnimation* animation_ = nullptr;
    installation_config const* config_ = nullptr;
};

} // namespace kelvra::interface::support
