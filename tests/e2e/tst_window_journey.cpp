// A user's way through the window against sshd on loopback and a private CUPS:
// a new session with two of three printers, opened by a double click through the
// terminal program, whose command asks the tunnel for them; then changed and removed.
#include "connections/manager.hpp"
#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "support/cups_server.hpp"
#include "support/machine_identity.hpp"
#include "support/sshd_server.hpp"
#include "support/test_environment.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

using kelvra::testing::process_timeout_ms;

namespace {

template <class T = QWidget> T* child(QObject const* parent, char const* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Runs `act` on the next modal dialog once it is up.
void on_next_modal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* dialog = QApplication::activeModalWidget();
        dialog != nullptr ? act(dialog) : on_next_modal(act);
    });
}

// The sessions the window lists, then those of the tray's "Sessões" submenu.
QStringList listed(kelvra::ui::MainWindow const& window) {
    QStringList names;
    auto const* list = child<QListWidget>(&window, "lw_sessions");
    for (int i = 0; i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    names << QStringLiteral("|");
    for (QAction const* action : window.tray_menu()->actions().value(0)->menu()->actions()) {
        names << action->text();
    }
    return names;
}

} // namespace

class tst_window_journey : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    std::optional<kelvra::testing::machine_identity> identity_;
    std::optional<kelvra::testing::cups_server> cups_;
    kelvra::testing::sshd_server server_;
    QTemporaryDir server_side_; // the session's folder on the server
    QString const password_ =
        QStringLiteral("Jornada 'senha' \"$(x)\" %1").arg(QRandomGenerator::global()->generate());

private slots:
    void initTestCase() {
        QString const reason = kelvra::testing::sshd_server::unavailable_reason();
        if (!reason.isEmpty()) {
            QSKIP(qPrintable(reason));
        }
        QString const taken = kelvra::testing::port_taken(59565); // the tunnel's fixed port
        QVERIFY2(taken.isEmpty(), qPrintable(taken));
        identity_.emplace();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        cups_.emplace();
        for (char const* printer : {"caixa", "etiquetas", "fiscal"}) {
            QVERIFY2(cups_->add_printer(printer), qPrintable(cups_->error()));
        }
        QString const libexec = QCoreApplication::applicationDirPath() + "/../libexec/";
        QVERIFY(QDir().mkpath(libexec));
        for (auto [from, to] : {std::pair{KELVRA_PUTTY, "putty"},
                                {KELVRA_ASKPASS, "kelvra-askpass"},
                                {KELVRA_SSH_RUNNER, "kelvra-ssh"}}) {
            QVERIFY(QFile::copy(from, libexec + to));
        }
        // The command is checked for shells by name: the probe goes by a plain one.
        QVERIFY(QFile::copy(KELVRA_PROBE, server_side_.filePath("probe")));
        QString error;
        QVERIFY2(server_.start(password_.toUtf8(), error), qPrintable(error));
        qunsetenv("DISPLAY"); // the terminal program runs its session without a window
    }

    void create_open_change_remove() {
        kelvra::ui::MainWindow window;
        window.show();
        QString title;
        on_next_modal([&](QWidget* dialog) {
            title = dialog->windowTitle();
            for (auto [name, text] : {std::pair{"le_nome", QStringLiteral("Balcão")},
                                      {"le_host", QStringLiteral("127.0.0.1")},
                                      {"le_usuario", QStringLiteral("root")},
                                      {"le_caminho", server_side_.path()},
                                      {"le_comando", QStringLiteral("./probe > report")}}) {
                child<QLineEdit>(dialog, name)->setText(text);
            }
            child<QSpinBox>(dialog, "le_porta")->setValue(server_.port());
            child<QComboBox>(dialog, "cb_aut")->setCurrentIndex(0);
            QTest::keyClicks(child(dialog, "le_senha"), password_);
            auto* printers = child<QComboBox>(dialog, "cb_impressoras");
            for (char const* printer : {"caixa", "fiscal"}) {
                printers->setCurrentIndex(printers->findText(printer));
                child<QPushButton>(dialog, "btn_enable_disable")->click();
            }
            child<QLineEdit>(dialog, "le_nome_impressora")->setText("Cupom \"ECF\"");
            auto* type = child<QComboBox>(dialog, "cb_tipo_impressora");
            type->setCurrentIndex(type->findText("Epson TM-T20"));
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_novo")->click();
        QCOMPARE(title, QStringLiteral("Nova sessão"));
        QCOMPARE(listed(window), (QStringList{"Balcão", "|", "Balcão"}));

        // A double click opens it; the probe reports what the tunnel sent.
        auto* list = child<QListWidget>(&window, "lw_sessions");
        QPoint const item = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item);
        QString const report = server_side_.filePath("report");
        QTRY_VERIFY_WITH_TIMEOUT(kelvra::testing::read_file(report).endsWith('\n'),
                                 process_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(!kelvra::manager::instance().has_running(), process_timeout_ms);
        QJsonObject const answer =
            QJsonDocument::fromJson(kelvra::testing::read_file(report)).object();
        QStringList printers; // in no particular order
        for (QJsonValue const& p : answer.value("printers").toArray()) {
            printers << p["identificador"].toString() + '=' + p["nome"].toString() + '/' +
                            QString::number(p["tipo"].toInt());
        }
        printers.sort();
        QCOMPARE(printers, (QStringList{"caixa=caixa/1", "fiscal=Cupom \"ECF\"/11"}));

        // Unlocked with today's settings password, "Alterar" renames it.
        on_next_modal([](QWidget* dialog) {
            QTest::keyClicks(child(dialog, "le_senha_configuracoes"),
                             QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_configuracoes")->click();
        on_next_modal([&](QWidget* dialog) {
            title = dialog->windowTitle();
            child<QLineEdit>(dialog, "le_nome")->setText(QStringLiteral("Balcão 2"));
            QTest::keyClicks(child(dialog, "le_senha"), password_); // never shown again
            child<QPushButton>(dialog, "btn_ok")->click();
        });
        child<QPushButton>(&window, "btn_alterar")->click();
        QCOMPARE(title, QStringLiteral("Alterar sessão"));
        QCOMPARE(listed(window), (QStringList{"Balcão 2", "|", "Balcão 2"}));
        brano::core::v6::result::stack status;
        QVector<kelvra::session> const stored = kelvra::load_sessions(status);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].impressoras.size(), 2);

        // "Excluir" asks first; "Sim" removes it.
        QString question;
        on_next_modal([&](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            question = box->text();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == QStringLiteral("Sim")) {
                    button->click();
                }
            }
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item); // a click enables it
        child<QPushButton>(&window, "btn_excluir")->click();
        QCOMPARE(question, QStringLiteral("Tem certeza que deseja excluir a sessão 'Balcão 2' ?"));
        QCOMPARE(listed(window), QStringList{"|"});
        QVERIFY(kelvra::load_sessions(status).isEmpty() && !status.has_failed());
    }
};

int main(int argc, char** argv) {
    if (!kelvra::testing::in_installation()) {
        QCoreApplication probe(argc, argv);
        return kelvra::testing::run_installed(QStringLiteral("bin/tst_window_journey"));
    }
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    tst_window_journey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_journey.moc"
