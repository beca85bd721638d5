#include "interface/show_error.hpp"
#include "interface/widget_testing.hpp"

namespace result = brano::core::v6::result;
using kelvra::interface::show_error;

namespace {

// Code 2 carries markup; codes past 2 have no message.
class test_category final : public result::category {
    char const* name() const noexcept override { return "kelvra-teste"; }
    char const* message(int code) const override {
        return code == 1   ? "Primeira falha"
               : code == 2 ? "Falha em <i>arquivo</i> &amp; pasta"
                           : nullptr;
    }
} const category;

// Clicks the button `look` names in the next modal window (else rejects it).
void answer(std::function<QString(QWidget*)> look) {
    QTimer::singleShot(0, [look] {
        QWidget* const window = QApplication::activeModalWidget();
        QString const name = window != nullptr ? look(window) : QString();
        if (auto* const button = window ? window->findChild<QPushButton*>(name) : nullptr) {
            button->click();
        } else if (auto* const dialog = qobject_cast<QDialog*>(window)) {
            dialog->reject();
        }
    });
}

} // namespace

class tst_show_error : public QObject {
    Q_OBJECT

private slots:
    void clean_stack_shows_nothing() {
        bool looked = false;
        QWidget* seen = nullptr;
        answer([&](QWidget* window) { return seen = window, QString(); });
        QTimer::singleShot(0, [&] { looked = true; });
        result::stack const clean;
        show_error(nullptr, "Resumo", clean);
        show_error(nullptr, clean);
        QVERIFY2(!looked, "an event loop ran");
        QTRY_VERIFY(looked);
        QCOMPARE(seen, nullptr);
    }

    void box_then_details_data() {
        QTest::addColumn<QString>("text"); // empty: the first item's message
        QTest::newRow("with text") << "Não foi possível abrir a sessão";
        QTest::newRow("stack only") << QString();
    }

    void box_then_details() {
        QFETCH(QString, text);
        result::stack stack;
        stack.push_item(category, 1)
            .set_argument("path", "/tmp/ç")
            .set_argument("session-name", "<b>Vendas</b> & \"Co\"");
        stack.push_item(category, 2);
        stack.push_item(category, 9);

        QApplication::clipboard()->clear();
        QStringList seen;
        answer([&](QWidget* window) {
            auto* const box = qobject_cast<QMessageBox*>(window);
            auto* const more = window->findChild<QPushButton*>("btn_mostrar_mais");
            seen << window->windowTitle() << (box ? box->text() : QString())
                 << QString::number(box && box->icon() == QMessageBox::Warning)
                 << QString::number(box ? box->buttons().size() : 0)
                 << QString::number(box && box->buttonRole(more) == QMessageBox::HelpRole &&
                                    box->button(QMessageBox::Ok))
                 << kelvra::testing::read_by_keyboard(*window).join('|');
            answer([&seen, window](QWidget* details) {
                auto* const edit = details->findChild<QTextEdit*>("te_detalhes");
                details->findChild<QPushButton*>("btn_copiar")->click();
                seen << kelvra::testing::read_by_keyboard(*details).join('|')
                     << QString::number(window->isVisible()) << details->windowTitle()
                     << QApplication::clipboard()->text()
                     << QString::number(edit->isReadOnly() && edit->textCursor().hasSelection());
                return QString("btn_ok");
            });
            return QString("btn_mostrar_mais");
        });
        text.isEmpty() ? show_error(nullptr, stack) : show_error(nullptr, text, stack);

        // The box closes first; the copy keeps blank lines and indents, renders a
        // message's markup and leaves an argument's as text.
        QCOMPARE(
            seen,
            QStringList({"Error", text.isEmpty() ? "Primeira falha" : text, "1", "2", "1",
                         "OK|Mostrar Mais", "Detalhes do erro|Copiar|Ok", "0", "Detalhes do erro",
                         "Category.: kelvra-teste\nMessage..: Primeira falha\n"
                         "Arguments:\n   path: /tmp/ç\n   session-name: <b>Vendas</b> & \"Co\"\n\n"
                         "Category.: kelvra-teste\nMessage..: Falha em arquivo & pasta\n\n"
                         "Category.: kelvra-teste\nMessage..: ",
                         "1"}));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(tst_show_error)
#include "tst_show_error.moc"
