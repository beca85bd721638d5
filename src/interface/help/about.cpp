#include "interface/help/about.hpp"

#include "core/version.hpp"
#include "ui_about.h"

#include <QCoreApplication>

namespace kelvra::interface::help {

about::about(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::about>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->l_version->setText(
        QCoreApplication::translate("about", "Versão %1").arg(QString::fromLatin1(kelvra_version)));
    setFixedSize(size());
}

about::~about() = default;

} // namespace kelvra::interface::help
