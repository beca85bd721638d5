#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class dialog_configuracoes;
}

namespace kelvra::interface::preferences {

// Asks for the settings password, which unlocks the window's editing
// buttons: accepted only when the typed text is today's password.
class dialog_configuracoes : public QDialog {
    Q_OBJECT

public:
    explicit dialog_configuracoes(QWidget* parent);
    ~dialog_configuracoes() override;

private slots:
    void on_btn_ok_clicked();
    void on_btn_cancelar_clicked();

private:
    std::unique_ptr<Ui::dialog_configuracoes> ui_;
};

} // namespace kelvra::interface::preferences
