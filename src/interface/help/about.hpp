#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class about;
}

namespace kelvra::interface::help {

// The about box: the program's name, its maker and its version.
class about : public QDialog {
    Q_OBJECT

public:
    explicit about(QWidget* parent);
    ~about() override;

private:
    std::unique_ptr<Ui::about> ui_;
};

} // namespace kelvra::interface::help
