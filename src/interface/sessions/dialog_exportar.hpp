#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class dialog_exportar;
}

namespace kelvra::interface::sessions {

// Writes the checked sessions into one export file. It lists every saved
// session, all checked; exec() shows the listing's failure instead of the
// dialog and returns Rejected.
class dialog_exportar : public QDialog {
    Q_OBJECT

public:
    explicit dialog_exportar(QWidget* parent);
    ~dialog_exportar() override;

    int exec() override;

private slots:
    void on_btn_cancelar_clicked();
    void on_btn_exportar_clicked();

private:
    void export_sessions();

    std::unique_ptr<Ui::dialog_exportar> ui_;
};

} // namespace kelvra::interface::sessions
