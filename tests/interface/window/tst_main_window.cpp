#include "communication/server.hpp"
#include "connections/manager.hpp"
#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "interface/ui/widget_session_list.hpp"
#include "support/keyboard.hpp"
#include "support/machine_identity.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QApplication>
#include <QDate>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using kelvra::ui::MainWindow;

namespace {

// Presses the button called `text` of the next modal box, once it is up,
// and records the box's text.
void answer_next_box(QString const& text, QString* seen = nullptr) {
    QTimer::singleShot(0, [text, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return answer_next_box(text, seen); // not up yet: try again
        }
        if (seen != nullptr) {
            *seen = box->windowTitle() + QLatin1Char('|') + box->text();
            QList<QAbstractButton*> shown = box->buttons();
            if (shown.size() > 1) { // a question: its buttons left to right
                std::sort(shown.begin(), shown.end(),
                          [](auto* a, auto* b) { return a->x() < b->x(); });
                for (QAbstractButton const* button : shown) {
                    *seen += QLatin1Char('|') + button->text();
                }
            }
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove(QLatin1Char('&')) == text) {
                button->click();
                return;
            }
        }
        box->reject();
    });
}

QStringList texts(QList<QAction*> const& actions) {
    QStringList out;
    for (QAction const* a : actions) {
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return out;
}

kelvra::session sample(QString const& name, QString const& key) {
    kelvra::session s;
    s.id =
        QStringLiteral("{00000000-0000-4000-8000-%1}").arg(qHash(name), 12, 16, QLatin1Char('0'));
    s.nome = name;
    s.host = QStringLiteral("mirtel");
    s.porta = 22;
    s.usuario = QStringLiteral("op");
    s.key = key;
    return s;
}

} // namespace

class tst_main_window : public QObject {
    Q_OBJECT

    QString const root_ = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QString sessions_() const { return root_ + QStringLiteral("/var/sessions"); }
    std::unique_ptr<kelvra::testing::machine_identity> identity_;
    kelvra::testing::isolated_home home_;
    QTemporaryDir records_;

    template <class T> T* find(MainWindow& w, char const* name) {
        return w.findChild<T*>(QLatin1String(name));
    }

    void store(QStringList const& names) {
        QDir(sessions_()).removeRecursively();
        QDir().mkpath(sessions_());
        QString const key = kelvra::testing::machine_identity::session_key_text(
            QCoreApplication::applicationFilePath(), "s3nh@", QStringLiteral("menu"),
            QStringLiteral("/srv"));
        for (QString const& name : names) {
            kelvra::session const s = sample(name, key);
            QVERIFY(kelvra::testing::write_file(sessions_() + QLatin1Char('/') + s.id +
                                                    QStringLiteral(".json"),
                                                QJsonDocument(QJsonObject{{"versao", 2},
                                                                          {"nome", s.nome},
                                                                          {"host", s.host},
                                                                          {"porta", s.porta},
                                                                          {"usuario", s.usuario},
                                                                          {"key", s.key},
                                                                          {"caminho", "/srv"},
                                                                          {"comando", "menu"},
                                                                          {"tipo_autenticacao", 0},
                                                                          {"autostart", false},
                                                                          {"maximized", false}})
                                                    .toJson()));
        }
    }

private slots:
    void initTestCase() {
        identity_ = std::make_unique<kelvra::testing::machine_identity>();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QDir().mkpath(root_ + QStringLiteral("/libexec"));
        QFile::remove(root_ + QStringLiteral("/libexec/putty"));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_RECORDING_PUTTY),
                            root_ + QStringLiteral("/libexec/putty")));
        QDir().mkpath(root_ + QStringLiteral("/etc"));
        QVERIFY(kelvra::communication::server::instance().start_listening());
    }

    // The form's names, texts and the restricted mode it starts in.
    void form_starts_restricted() {
        store({});
        MainWindow w;
        QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Kelvra"));
        QCOMPARE(w.size(), QSize(459, 468));
        QCOMPARE(find<QGroupBox>(w, "gb_conexoes")->title(), QStringLiteral("Sessões"));
        QVERIFY(find<kelvra::ui::widget_session_list>(w, "widget_sessions"));
        struct expected {
            char const* name;
            char const* text;
            bool visible;
        };
        for (expected const& e : {expected{"btn_novo", "Novo", true},
                                  {"btn_configuracoes", "Configurações", true},
                                  {"btn_alterar", "Alterar", false},
                                  {"btn_excluir", "Excluir", false},
                                  {"btn_exportar", "Exportar ...", false},
                                  {"btn_importar", "Importar ...", false},
                                  {"btn_criar_atalhos", "Criar atalhos", false}}) {
            auto* button = find<QPushButton>(w, e.name);
            QVERIFY2(button, e.name);
            QCOMPARE(button->text(), QString::fromUtf8(e.text));
            QCOMPARE(button->isVisibleTo(&w), e.visible);
        }
        QCOMPARE(texts(w.menuBar()->actions()), (QStringList{"Arquivo", "Preferências", "Ajuda"}));
        QCOMPARE(texts(w.tray_menu()->actions()),
                 (QStringList{"Sessões", "Atualizar", "Maximizar", "-", "Sair"}));
        QVERIFY(!w.tray_menu()->actions()[1]->isEnabled());
        // An empty store: nothing to export, no sessions in the tray.
        QVERIFY(!find<QPushButton>(w, "btn_exportar")->isEnabled());
        QVERIFY(!w.tray_menu()->actions()[0]->menu()->isEnabled());
        QCOMPARE(kelvra::testing::read_by_keyboard(w),
                 (QStringList{"Sessões", "Novo", "Configurações"}));
    }

    void settings_password_unlocks() {
        store({QStringLiteral("Vendas")});
        MainWindow w;
        w.show();
        QTimer::singleShot(0, [] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            auto* edit = dialog->findChild<QLineEdit*>();
            QVERIFY(edit);
            edit->setText(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        });
        find<QPushButton>(w, "btn_configuracoes")->click();
        QVERIFY(!find<QPushButton>(w, "btn_configuracoes")->isEnabled());
        for (char const* name :
             {"btn_importar", "btn_exportar", "btn_alterar", "btn_excluir", "btn_criar_atalhos"}) {
            QVERIFY2(find<QPushButton>(w, name)->isVisible(), name);
        }
        auto* list = find<QListWidget>(w, "lw_sessions");
        list->setCurrentRow(0);
        emit list->itemClicked(list->item(0));
        QCOMPARE(kelvra::testing::read_by_keyboard(w),
                 (QStringList{"Sessões", "Novo", "Alterar", "Excluir", "Exportar ...",
                              "Importar ...", "Criar atalhos"}));
    }

    // Sorted list and tray submenu; a double click opens through the
    // terminal program; "Sair" is refused while it runs, and the local
    // server still answers.
    void sessions_open_and_quit_waits_for_them() {
        store({QStringLiteral("beta"), QStringLiteral("Alpha")});
        MainWindow w;
        w.show();
        auto* list = find<QListWidget>(w, "lw_sessions");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Alpha"));
        QMenu* submenu = w.tray_menu()->actions()[0]->menu();
        QCOMPARE(texts(submenu->actions()), (QStringList{"Alpha", "beta"}));
        QVERIFY(find<QPushButton>(w, "btn_exportar")->isEnabled());
        // A refresh replaces the submenu's entries and leaves none behind.
        int const actions = w.findChildren<QAction*>().size();
        w.refresh_sessions();
        QCOMPARE(w.findChildren<QAction*>().size(), actions);

        QString const hold = records_.filePath(QStringLiteral("hold"));
        QVERIFY(kelvra::testing::write_file(hold, {}));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        auto release = qScopeGuard([&] {
            QFile::remove(hold);
            qunsetenv("KELVRA_RECORD_HOLD");
        });
        list->setCurrentRow(1);
        emit find<kelvra::ui::widget_session_list>(w, "widget_sessions")->doubleClicked();
        QTRY_VERIFY_WITH_TIMEOUT(kelvra::testing::has_recorded_calls(records_.path()), 30000);
        QList<QStringList> const calls = kelvra::testing::take_recorded_calls(records_.path());
        QCOMPARE(calls.first().mid(0, 3), (QStringList{"-load", "beta", "-pw"}));
        QVERIFY(kelvra::manager::instance().has_running());

        QString question, refusal;
        answer_next_box(QStringLiteral("Sim"), &question);
        QTimer::singleShot(50, [&] { answer_next_box(QStringLiteral("OK"), &refusal); });
        w.confirm_quit();
        QCOMPARE(question, "Encerrar Kelvra|Tem certeza que deseja encerrar o Kelvra?|Sim|Nao");
        QTRY_COMPARE(refusal,
                     QStringLiteral("Kelvra|Feche todas as conexões antes de finalizar o Kelvra"));
        QVERIFY(kelvra::communication::server::instance().is_listening());

        QSignalSpy finished(&kelvra::manager::instance(), &kelvra::manager::all_finished);
        release.dismiss();
        QFile::remove(hold);
        qunsetenv("KELVRA_RECORD_HOLD");
        QVERIFY(finished.wait(30000));

        list->setCurrentRow(1);
        answer_next_box(QStringLiteral("Sim"), &question);
        QVERIFY(QMetaObject::invokeMethod(&w, "on_btn_excluir_clicked"));
        QCOMPARE(question,
                 "Excluir Sessão|Tem certeza que deseja excluir a sessão 'beta' ?|Não|Sim");
        QCOMPARE(list->count(), 1);
    }

    void no_current_item_opens_no_menu_and_says_why() {
        store({QStringLiteral("Vendas")});
        MainWindow w;
        w.show();
        auto* list = find<kelvra::ui::widget_session_list>(w, "widget_sessions");
        emit list->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(QApplication::activePopupWidget() == nullptr);
        QString seen;
        answer_next_box(QStringLiteral("OK"), &seen);
        w.execute_current_session();
        QCOMPARE(seen, QStringLiteral("Executar Sessão|Selecione uma sessão para executar"));
        QVERIFY(!kelvra::testing::has_recorded_calls(records_.path()));
    }

    void closing_keeps_kelvra_running() {
        store({});
        MainWindow w;
        w.show();
        QVERIFY(w.close() || w.isMinimized());
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            QVERIFY(!w.isVisible());
        } else {
            // No tray to come back from: the window stays reachable.
            QVERIFY(w.isVisible());
            QTRY_VERIFY(w.isMinimized());
        }
    }
};

int main(int argc, char** argv) {
    if (!kelvra::testing::in_installation()) {
        QCoreApplication probe(argc, argv);
        return kelvra::testing::run_installed(QStringLiteral("bin/tst_main_window"));
    }
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    tst_main_window test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_main_window.moc"
