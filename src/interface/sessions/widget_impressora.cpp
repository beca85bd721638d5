#include "interface/sessions/widget_impressora.hpp"

#include "ui_widget_impressora.h"

#include <QPrinterInfo>

namespace kelvra::interface::sessions {

namespace {

// The printer types the server knows, in the order the list shows them;
// the code travels as the item's data.
struct printer_type {
    std::int32_t code;
    char const* text;
};
printer_type const printer_types[] = {
    {1, "Epson Matricial"},  {2, "HP Jato de Tinta"}, {3, "Bematech 40 col"},
    {4, "Rich Text Format"}, {5, "Procomp Diebold"},  {6, "Bematech MP-4200"},
    {7, "Bematech MP-2100"}, {8, "Daruma"},           {9, "Daruma DR800"},
    {10, "Elgin"},           {11, "Epson TM-T20"},    {12, "Etiqueta"},
};

QString const enable_text = QStringLiteral("Habilitar");
QString const disable_text = QStringLiteral("Desabilitar");

} // namespace

widget_impressora::widget_impressora(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::widget_impressora>()) {
    ui_->setupUi(this);
    for (printer_type const& type : printer_types) {
        ui_->cb_tipo_impressora->addItem(QString::fromUtf8(type.text), type.code);
    }
    QStringList const names = QPrinterInfo::availablePrinterNames();
    for (QString const& name : names) {
        printers_[name.toStdString()] = printer_entry{name, name, 1, false};
    }
    ui_->cb_impressoras->addItems(names);
    setEnabled(!names.isEmpty());

    // Connected only now, so that filling the lists above changed no entry.
    connect(ui_->cb_impressoras, &QComboBox::currentTextChanged, this,
            &widget_impressora::show_current_printer);
    connect(ui_->le_nome_impressora, &QLineEdit::textChanged, this, [this](QString const& text) {
        if (printer_entry* entry = current_entry()) {
            entry->nome = text;
        }
    });
    connect(ui_->le_nome_impressora, &QLineEdit::editingFinished, this, [this] {
        // A printer always has a name for the server: an emptied field
        // goes back to the system's name.
        if (ui_->le_nome_impressora->text().isEmpty()) {
            if (printer_entry* entry = current_entry()) {
                ui_->le_nome_impressora->setText(entry->identificador);
            }
        }
    });
    connect(ui_->cb_tipo_impressora, &QComboBox::currentTextChanged, this, [this] {
        if (printer_entry* entry = current_entry()) {
            entry->tipo = ui_->cb_tipo_impressora->currentData().toInt();
        }
    });
}

widget_impressora::~widget_impressora() = default;

widget_impressora::printer_entry* widget_impressora::current_entry() {
    auto const it = printers_.find(ui_->cb_impressoras->currentText().toStdString());
    return it == printers_.end() ? nullptr : &it->second;
}

void widget_impressora::show_current_printer() {
    printer_entry* entry = current_entry();
    if (entry == nullptr) {
        return;
    }
    // Copied first: the field and the list write back into the entry.
    printer_entry const shown = *entry;
    ui_->le_nome_impressora->setText(shown.nome);
    ui_->cb_tipo_impressora->setCurrentIndex(ui_->cb_tipo_impressora->findData(shown.tipo));
    // A type the list lacks shows none and is none: the list only signals a
    // change, and may already have shown none.
    entry->tipo = ui_->cb_tipo_impressora->currentData().toInt();
    set_printer_enabled(shown.enabled);
}

void widget_impressora::set_printer_enabled(bool on) {
    ui_->btn_enable_disable->setText(on ? disable_text : enable_text);
    for (QWidget* w : {static_cast<QWidget*>(ui_->l_nome_impressora),
                       static_cast<QWidget*>(ui_->le_nome_impressora),
                       static_cast<QWidget*>(ui_->l_tipo_impressora),
                       static_cast<QWidget*>(ui_->cb_tipo_impressora)}) {
        w->setEnabled(on);
    }
}

void widget_impressora::on_btn_enable_disable_clicked() {
    QString const text = ui_->btn_enable_disable->text();
    if (text != enable_text && text != disable_text) {
        return;
    }
    bool const on = text == enable_text;
    set_printer_enabled(on);
    if (printer_entry* entry = current_entry()) {
        entry->enabled = on;
    }
}

} // namespace kelvra::interface::sessions
