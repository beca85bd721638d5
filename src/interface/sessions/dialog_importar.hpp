#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class dialog_importar;
}

namespace kelvra::interface::sessions {

// Takes sessions from an export file into the store. exec() reads the file
// first and shows its failure instead of the dialog (Rejected). Every
// checked session then opens a pre-filled "Nova sessão" in turn, where the
// user types its secret again; one cancelled there is skipped. The dialog
// has no close button, and leaving it (Cancelar, Escape) asks first.
class dialog_importar : public QDialog {
    Q_OBJECT

public:
    dialog_importar(QString file_name, QWidget* parent);
    ~dialog_importar() override;

    int exec() override;
    // Every way out but "Importar" comes here: it asks before leaving.
    void reject() override;

private slots:
    void on_btn_cancelar_clicked();
    void on_btn_importar_clicked();

private:
    void import_sessions();
    void confirm_cancel_import();

    std::unique_ptr<Ui::dialog_importar> ui_;
    QString file_name_;
};

} // namespace kelvra::interface::sessions
