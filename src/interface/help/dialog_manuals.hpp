#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class dialog_manuals;
}

namespace kelvra::interface::help {

// The manuals: a list of subjects on the left, the chosen one's page on the
// right. Opens on the first subject.
class dialog_manuals : public QDialog {
    Q_OBJECT

public:
    explicit dialog_manuals(QWidget* parent);
    ~dialog_manuals() override;

private:
    std::unique_ptr<Ui::dialog_manuals> ui_;
};

} // namespace kelvra::interface::help
