#include "interface/support/dialog_suporte.hpp"

#include "ui_dialog_suporte.h"

#include "core/derive_support_password.hpp"
#include "core/installation_config.hpp"
#include "core/secure_memory.hpp"
#include "core/status.hpp"
#include "core/support_code.hpp"
#include "crypto/random_bytes.hpp"
#include "interface/show_error.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QPropertyAnimation>

#include <algorithm>
#include <string_view>

namespace kelvra::interface::support {

namespace result = brano::core::v6::result;

namespace {

// How long a temporary code is shown, and from which value of the bar it is
// about to be replaced.
constexpr int code_period_ms = 180000;
constexpr int warning_after = 143999;

QString chunk_style(char const* colour) {
    return QStringLiteral("QProgressBar::chunk {background-color: %1}").arg(QLatin1String(colour));
}

} // namespace

dialog_suporte::dialog_suporte(QWidget* parent, installation_config const* config)
    : QDialog(parent), ui_(std::make_unique<Ui::dialog_suporte>()), config_(config) {
    ui_->setupUi(this);
    // No way out but the two buttons: no close button, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // The user types the desk's answer as soon as the dialog opens.
    ui_->le_senha->setFocus();

    ui_->progressBar->setStyleSheet(chunk_style("green"));
    ui_->progressBar->setRange(0, code_period_ms);
    animation_ = new QPropertyAnimation(ui_->progressBar, "value", this);
    animation_->setDuration(code_period_ms);
    animation_->setStartValue(0);
    animation_->setEndValue(code_period_ms);
    connect(animation_, &QPropertyAnimation::finished, this, &dialog_suporte::renew);
    connect(ui_->progressBar, &QProgressBar::valueChanged, this, &dialog_suporte::set_chunk_colour);
    animation_->start();
}

dialog_suporte::~dialog_suporte() = default;

installation_config const& dialog_suporte::config() const {
    return config_ != nullptr ? *config_ : installation_config::get();
}

int dialog_suporte::exec() {
    installation_config const& client = config();
    if (client.status.has_failed()) {
        // The code and the trade name come from the same file: whichever is
        // missing, the code is what the user cannot read out.
        show_error(this, QStringLiteral("Erro ao obter codigo do cliente"), client.status);
        return Rejected;
    }
    ui_->l_codigo_cliente->setText(QString::number(client.codigo));
    ui_->l_nome_fantasia->setText(client.nome_fantasia);
    // A long trade name would otherwise be cut short, and the labels with it.
    resize(size().expandedTo(sizeHint()));
    if (!make_temporary_code()) {
        return Rejected;
    }
    return QDialog::exec();
}

bool dialog_suporte::make_temporary_code() {
    result::stack status;
    auto const bytes = crypto::random_bytes(support_code::drawn_length, status);
    if (status.has_failed() || bytes.size() != support_code::drawn_length) {
        ui_->l_codigo->clear();
        show_error(this, QStringLiteral("Erro ao obter codigo temporário"), status);
        reject();
        return false;
    }
    std::array<std::uint8_t, support_code::drawn_length> drawn{};
    std::copy_n(bytes.data(), drawn.size(), drawn.begin());
    ui_->l_codigo->setText(QString::fromStdString(support_code::make_code(drawn)));
    return true;
}

void dialog_suporte::set_chunk_colour(int value) {
    ui_->progressBar->setStyleSheet(chunk_style(value > warning_after ? "red" : "green"));
}

void dialog_suporte::renew() {
    if (!make_temporary_code()) {
        return;
    }
    ui_->progressBar->setStyleSheet(chunk_style("green"));
    animation_->start();
}

void dialog_suporte::on_btn_copiar_codigo_clicked() {
    QGuiApplication::clipboard()->setText(ui_->l_codigo->text());
}

void dialog_suporte::on_btn_cancelar_clicked() {
    reject();
}

void dialog_suporte::on_btn_ok_clicked() {
    installation_config const& client = config();
    if (client.status.has_failed()) {
        show_error(this, QStringLiteral("Erro ao obter codigo do cliente"), client.status);
        reject();
        return;
    }
    result::stack status;
    std::string expected =
        derive_support_password(ui_->l_codigo->text().toStdString(), client.codigo, status);
    if (status.has_failed()) {
        reject();
        return;
    }
    QByteArray typed = ui_->le_senha->text().toUtf8();
    bool const matches =
        std::string_view(typed.constData(), static_cast<std::size_t>(typed.size())) == expected;
    wipe(expected);
    wipe(typed);
    if (matches) {
        accept();
        return;
    }
    status.push_item(status::suporte_session_category::instance(),
                     status::suporte_session_category::invalid_password);
    show_error(this, QStringLiteral("Senha invalida"), status);
}

} // namespace kelvra::interface::support
