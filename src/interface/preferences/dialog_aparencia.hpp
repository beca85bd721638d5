#pragma once

#include <brano/core/v6/result.hpp>

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class dialog_aparencia;
}

namespace kelvra::interface::preferences {

// "Aparência": picks the light or dark look (or the system's, which is the
// dark one), applies it at once and stores it in etc/interface.json.
// Run it modally; it closes on "Ok" even when applying or storing failed,
// and status() then tells why (the caller shows it).
class dialog_aparencia : public QDialog {
    Q_OBJECT

public:
    explicit dialog_aparencia(QWidget* parent = nullptr);
    // The same for the installation whose executable lives in `executable_dir`.
    dialog_aparencia(QString executable_dir, QWidget* parent);
    ~dialog_aparencia() override;

    // The failure of the last "Ok", or an empty stack.
    brano::core::v6::result::stack const& status() const { return status_; }

private slots:
    void on_btn_ok_clicked();
    void on_btn_cancelar_clicked();

private:
    std::unique_ptr<Ui::dialog_aparencia> ui_;
    QString executable_dir_;
    brano::core::v6::result::stack status_;
};

} // namespace kelvra::interface::preferences
