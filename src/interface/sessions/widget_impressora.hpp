#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace Ui {
class widget_impressora;
}

namespace kelvra::interface::sessions {

// The workstation's printers that a session offers to the server: one entry
// per printer that the system lists, each with the name and type the server
// sees and whether the session uses it. The table is built once, from the
// printers known when the widget is built; with none the widget is disabled.
class widget_impressora : public QWidget {
    Q_OBJECT

public:
    struct printer_entry {
        QString identificador; // the printer's name as the system lists it
        QString nome;          // the name offered to the server
        std::int32_t tipo = 1;
        bool enabled = false;
    };
    // Keyed by the UTF-8 bytes of the printer's system name.
    using printer_table = std::unordered_map<std::string, printer_entry>;

    explicit widget_impressora(QWidget* parent = nullptr);
    ~widget_impressora() override;

    printer_table const& printers() const { return printers_; }
    printer_table& printers() { return printers_; }

    // Updates the controls only: the button's word and the name and type
    // fields.
    void set_printer_enabled(bool on);
    // Shows the entry of the printer currently chosen in the list.
    void show_current_printer();

public slots:
    void on_btn_enable_disable_clicked();

private:
    printer_entry* current_entry();

    std::unique_ptr<Ui::widget_impressora> ui_;
    printer_table printers_;
};

} // namespace kelvra::interface::sessions
