#include "interface/show_error.hpp"

#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>

namespace kelvra::interface {

namespace result = brano::core::v6::result;

namespace {

// The category's message for the item's code; a category without one for
// that code gives an empty text.
QString message_of(result::item const& item) {
    char const* const message = item.get_category().message(item.get_code());
    return message == nullptr ? QString() : QString::fromUtf8(message);
}

// Argument names and values are plain text: a file name or a text from a
// peer must never turn into markup.
QString literal(std::string const& text) {
    return QString::fromStdString(text).toHtmlEscaped();
}

void show_details(QMessageBox& box, result::stack const& stack) {
    box.accept();

    QDialog dialog;
    dialog.setObjectName(QStringLiteral("dialog_detalhes_erro"));
    dialog.setWindowTitle(QStringLiteral("Detalhes do erro"));
    auto* const layout = new QGridLayout(&dialog);

    auto* const te_detalhes = new QTextEdit(&dialog);
    te_detalhes->setObjectName(QStringLiteral("te_detalhes"));
    te_detalhes->setAccessibleName(dialog.windowTitle());
    // The text separates items with an empty line and indents arguments with
    // blanks: keep that white space instead of collapsing it as markup does,
    // or the items run into each other on one line.
    te_detalhes->setHtml(QStringLiteral("<body style=\"white-space: pre-wrap\">") +
                         detail::details_html(stack));
    te_detalhes->setReadOnly(true);
    te_detalhes->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Room for a few items with their arguments; the window keeps its size.
    QFontMetrics const metrics(te_detalhes->font());
    te_detalhes->setMinimumSize(metrics.averageCharWidth() * 80, metrics.lineSpacing() * 20);
    layout->addWidget(te_detalhes, 0, 0, 1, 3, Qt::AlignCenter);

    // Created left to right, so that the tab order follows the row.
    auto* const btn_copiar = new QPushButton(QStringLiteral("Copiar"), &dialog);
    btn_copiar->setObjectName(QStringLiteral("btn_copiar"));
    btn_copiar->setAccessibleName(btn_copiar->text());
    layout->addWidget(btn_copiar, 3, 1, Qt::AlignRight);

    auto* const btn_ok = new QPushButton(QStringLiteral("Ok"), &dialog);
    btn_ok->setObjectName(QStringLiteral("btn_ok"));
    btn_ok->setAccessibleName(btn_ok->text());
    btn_ok->setDefault(true);
    layout->addWidget(btn_ok, 3, 2, Qt::AlignRight);
    layout->setHorizontalSpacing(0);

    QObject::connect(btn_ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(btn_copiar, &QPushButton::clicked, te_detalhes, [te_detalhes] {
        te_detalhes->selectAll();
        te_detalhes->copy();
    });

    dialog.adjustSize();
    dialog.setFixedSize(dialog.size());
    dialog.exec();
}

class StackError final : public QMessageBox {
public:
    StackError(QString const& text, result::stack const& stack)
        : QMessageBox(QMessageBox::Warning, QStringLiteral("Error"), text) {
        setObjectName(QStringLiteral("msg_erro"));
        QPushButton* const ok = addButton(QMessageBox::Ok);
        ok->setObjectName(QStringLiteral("btn_ok"));
        ok->setAccessibleName(ok->text());

        more_.setObjectName(QStringLiteral("btn_mostrar_mais"));
        more_.setText(QStringLiteral("Mostrar Mais"));
        more_.setAccessibleName(more_.text());
        addButton(&more_, QMessageBox::HelpRole);
        connect(&more_, &QPushButton::clicked, this,
                [this, &stack] { show_details(*this, stack); });
    }

    StackError(StackError const&) = delete;
    StackError& operator=(StackError const&) = delete;

    // The button is a member, so the box must let go of it before the
    // member goes, not delete it as one of its children afterwards.
    ~StackError() override { removeButton(&more_); }

private:
    QPushButton more_;
};

} // namespace

void show_error(QWidget* /*parent*/, QString const& text, result::stack const& stack) {
    if (!stack.has_failed()) {
        return;
    }
    StackError box(text, stack);
    box.exec();
}

void show_error(QWidget* parent, result::stack const& stack) {
    if (!stack.has_failed()) {
        return;
    }
    show_error(parent, message_of(*stack.begin()), stack);
}

namespace detail {

QString details_html(result::stack const& stack) {
    QString html;
    for (result::item const& item : stack) {
        if (!html.isEmpty()) {
            html += QStringLiteral("\n\n");
        }
        html +=
            QStringLiteral("<b>Category.:</b> ") + QString::fromUtf8(item.get_category().name());
        html += QStringLiteral("<br>");
        html += QStringLiteral("<b>Message..:</b> ") + message_of(item);

        QString arguments;
        for (result::argument const& argument : item.get_argument_range()) {
            if (!arguments.isEmpty()) {
                arguments += QStringLiteral("<br>");
            }
            arguments += QStringLiteral("   ") + literal(argument.get_name()) +
                         QStringLiteral(": ") + literal(argument.get_value());
        }
        if (!arguments.isEmpty()) {
            html += QStringLiteral("<br><b>Arguments:</b><br>") + arguments;
        }
    }
    return html;
}

} // namespace detail

} // namespace kelvra::interface
