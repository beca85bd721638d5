#include "interface/sessions/widget_base.hpp"

#include "core/status.hpp"
#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"
#include "interface/sessions/widget_impressora.hpp"
#include "interface/show_error.hpp"

#include "ui_widget_base.h"

#include <QApplication>
#include <QByteArray>
#include <QFileDialog>
#include <QLabel>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>

#include <openssl/crypto.h>

namespace kelvra::interface::sessions {

namespace result = brano::core::v6::result;

namespace {

using load = status::load_session_category;

// The first rule the record breaks, or 0. Empty means no characters at all:
// nothing is trimmed.
int broken_rule(session const& s, QString const& secret) {
    if (s.nome.isEmpty()) {
        return load::empty_name;
    }
    if (s.host.isEmpty()) {
        return load::empty_host;
    }
    if (s.usuario.isEmpty()) {
        return load::empty_user;
    }
    if (s.caminho.isEmpty()) {
        return load::empty_path;
    }
    if (s.comando.isEmpty()) {
        return load::empty_command;
    }
    // Sessions run the business system, never a shell or an interpreter.
    for (char const* refused : {"sh", "dbu", "python"}) {
        if (s.comando.contains(QLatin1String(refused), Qt::CaseSensitive)) {
            return load::invalid_command;
        }
    }
    if (s.tipo_autenticacao == authentication_type::invalid) {
        return load::invalid_authentication;
    }
    if (secret.isEmpty()) {
        return s.tipo_autenticacao == authentication_type::key_file ? load::empty_key
                                                                    : load::empty_password;
    }
    return 0;
}

} // namespace

widget_base::widget_base(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::widget_base>()) {
    ui_->setupUi(this);
    // The row labels share one width, 80 unless the font needs more: a label
    // cut short ("tenticaçao:") tells the user nothing.
    QLabel* const row_labels[] = {ui_->l_nome,  ui_->l_host,  ui_->l_usuario, ui_->l_aut,
                                  ui_->l_senha, ui_->l_chave, ui_->l_caminho, ui_->l_comando};
    int width = 80;
    for (QLabel* label : row_labels) {
        width = std::max(width, label->sizeHint().width());
    }
    for (QLabel* label : row_labels) {
        label->setFixedWidth(width);
    }
    for (QWidget* w : {static_cast<QWidget*>(ui_->l_senha), static_cast<QWidget*>(ui_->le_senha),
                       static_cast<QWidget*>(ui_->l_chave), static_cast<QWidget*>(ui_->le_key),
                       static_cast<QWidget*>(ui_->btn_procurar)}) {
        w->hide();
    }

    // The combo box starts with no choice; a label over it asks for one.
    auto* over = new QVBoxLayout(ui_->cb_aut);
    over->setContentsMargins(0, 0, 0, 0);
    placeholder_ = new QLabel(QStringLiteral(" Selecione..."), ui_->cb_aut);
    placeholder_->setObjectName(QStringLiteral("l_selecione"));
    placeholder_->setStyleSheet(qApp->styleSheet());
    placeholder_->setAttribute(Qt::WA_TranslucentBackground);
    // Clicks reach the combo box beneath.
    placeholder_->setAttribute(Qt::WA_TransparentForMouseEvents);
    over->addWidget(placeholder_);
    connect(ui_->cb_aut, qOverload<int>(&QComboBox::currentIndexChanged), placeholder_,
            [this](int index) { placeholder_->setVisible(index == -1); });
    ui_->cb_aut->setCurrentIndex(-1);
    connect(ui_->cb_aut, &QComboBox::currentTextChanged, this, &widget_base::swap_authentication);
}

widget_base::~widget_base() = default;

void widget_base::swap_authentication() {
    int const index = ui_->cb_aut->currentIndex();
    if (index != 0 && index != 1) {
        return;
    }
    bool const key_file = index == 1;
    for (QWidget* w : {static_cast<QWidget*>(ui_->l_chave), static_cast<QWidget*>(ui_->le_key),
                       static_cast<QWidget*>(ui_->btn_procurar)}) {
        w->setEnabled(key_file);
        w->setVisible(key_file);
    }
    for (QWidget* w : {static_cast<QWidget*>(ui_->l_senha), static_cast<QWidget*>(ui_->le_senha)}) {
        w->setEnabled(!key_file);
        w->setVisible(!key_file);
    }
}

void widget_base::on_btn_procurar_clicked() {
    QString const file = QFileDialog::getOpenFileName(this, QStringLiteral("Selecione a chave"),
                                                      QString(), QStringLiteral("*.ppk"));
    if (!file.isEmpty()) {
        ui_->le_key->setText(file);
    }
}

void widget_base::on_btn_cancelar_clicked() {
    emit cancel_clicked();
}

void widget_base::on_btn_ok_clicked() {
    session s;
    s.nome = ui_->le_nome->text();
    s.host = ui_->le_host->text();
    s.porta = ui_->le_porta->value();
    s.usuario = ui_->le_usuario->text();
    s.caminho = ui_->le_caminho->text();
    s.comando = ui_->le_comando->text();
    QString secret;
    switch (ui_->cb_aut->currentIndex()) {
    case 0:
        s.tipo_autenticacao = authentication_type::password;
        secret = ui_->le_senha->text();
        break;
    case 1:
        s.tipo_autenticacao = authentication_type::key_file;
        secret = ui_->le_key->text();
        break;
    default:
        s.tipo_autenticacao = authentication_type::invalid;
        break;
    }
    s.id = QUuid::createUuid().toString(QUuid::WithBraces);

    result::stack status;
    if (int const rule = broken_rule(s, secret)) {
        status.push_item(load::instance(), rule);
        show_error(this, status);
        return;
    }

    crypto::session_key key;
    key.device_key = crypto::get_installation_key(status);
    if (status.has_failed()) {
        show_error(this, status);
        return;
    }
    QByteArray clear = secret.toUtf8();
    key.secret = brano::core::v6::byte_array(
        reinterpret_cast<brano::core::v6::byte_array::value_type const*>(clear.constData()),
        static_cast<std::size_t>(clear.size()));
    OPENSSL_cleanse(clear.data(), static_cast<std::size_t>(clear.size()));
    key.command = s.comando.toStdString();
    key.path = s.caminho.toStdString();
    s.key = QString::fromStdString(crypto::encrypt_session_key(key, status));
    if (status.has_failed()) {
        show_error(this, status);
        return;
    }

    for (auto const& [name, entry] : ui_->base_impressora->printers()) {
        if (entry.enabled) {
            s.impressoras.push_back(printer{entry.identificador, entry.nome, entry.tipo});
        }
    }
    s.autostart = ui_->cb_autostart->isChecked();
    s.maximized = ui_->cb_maximized->isChecked();
    emit ok_clicked(s);
}

void widget_base::fill_from_session(session const& s) {
    ui_->le_nome->setText(s.nome);
    ui_->le_host->setText(s.host);
    ui_->le_porta->setValue(s.porta);
    ui_->le_usuario->setText(s.usuario);
    ui_->le_caminho->setText(s.caminho);
    ui_->le_comando->setText(s.comando);
    switch (s.tipo_autenticacao) {
    case authentication_type::password:
        ui_->cb_aut->setCurrentIndex(0);
        break;
    case authentication_type::key_file:
        ui_->cb_aut->setCurrentIndex(1);
        break;
    default:
        ui_->cb_aut->setCurrentIndex(-1);
        break;
    }
    ui_->cb_autostart->setChecked(s.autostart);
    ui_->cb_maximized->setChecked(s.maximized);

    widget_impressora::printer_table& table = ui_->base_impressora->printers();
    for (printer const& p : s.impressoras) {
        auto const it = table.find(p.identificador.toStdString());
        if (it != table.end()) {
            it->second.nome = p.nome;
            it->second.tipo = p.tipo;
            it->second.enabled = true;
        }
    }
    ui_->base_impressora->show_current_printer();
}

} // namespace kelvra::interface::sessions
