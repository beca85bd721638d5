#include "communication/server.hpp"
#include "connections/manager.hpp"
#include "interface/ui/widget_session_list.hpp"
#include "interface/widget_testing.hpp"

#include <tuple>

using namespace kelvra::testing;
using kelvra::ui::MainWindow;

class tst_main_window : public QObject {
    Q_OBJECT

    QString const root_ = QCoreApplication::applicationDirPath() + "/..";
    isolated_home home_;
    machine_identity identity_;
    QTemporaryDir records_;

    // "name=text" of each button, '-' after a hidden one.
    QString buttons(MainWindow& w) {
        QStringList out;
        for (char const* name : {"btn_novo", "btn_configuracoes", "btn_alterar", "btn_excluir",
                                 "btn_exportar", "btn_importar", "btn_criar_atalhos"}) {
            auto* b = child<QPushButton>(&w, name);
            out << name + ('=' + b->text()) + (b->isVisibleTo(&w) ? "" : "-");
        }
        return out.join(';');
    }

    void store(QStringList const& names) {
        QDir(root_ + "/var/sessions").removeRecursively();
        for (QString const& name : names) {
            kelvra::session s;
            s.id = QUuid::createUuid().toString();
            std::tie(s.nome, s.host, s.porta, s.usuario, s.caminho, s.comando) =
                std::tuple{name, "mirtel", 22, "op", "/srv", "menu"};
            s.key = machine_identity::session_key_text(QCoreApplication::applicationFilePath(),
                                                       "s3nh@", s.comando, s.caminho);
            brano::core::v6::result::stack status;
            kelvra::save_session(s, status);
            QVERIFY(!status.has_failed());
        }
    }

private slots:
    void initTestCase() {
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(QFile::copy(KELVRA_RECORDING_PUTTY, root_ + "/libexec/putty"));
        QVERIFY(kelvra::communication::server::instance().start_listening());
    }

    // The form's names and texts; restricted until today's settings password.
    void restricted_until_the_settings_password() {
        store({});
        MainWindow w;
        QCOMPARE(w.objectName() + '=' + w.windowTitle(), "MainWindow=Kelvra");
        QCOMPARE(w.size(), QSize(459, 468));
        QCOMPARE(child<QGroupBox>(&w, "gb_conexoes")->title(), QString("Sessões"));
        QVERIFY(child<kelvra::ui::widget_session_list>(&w, "widget_sessions"));
        QCOMPARE(buttons(w), "btn_novo=Novo;btn_configuracoes=Configurações;btn_alterar=Alterar-;"
                             "btn_excluir=Excluir-;btn_exportar=Exportar ...-;"
                             "btn_importar=Importar ...-;btn_criar_atalhos=Criar atalhos-");
        QStringList menus;
        for (QAction const* menu : w.menuBar()->actions()) {
            menus << menu->text();
        }
        QCOMPARE(menus, (QStringList{"Arquivo", "Preferências", "Ajuda"}));
        QVERIFY(!child<QPushButton>(&w, "btn_exportar")->isEnabled()); // nothing to export
        QCOMPARE(read_by_keyboard(w), (QStringList{"Sessões", "Novo", "Configurações"}));
        store({"Vendas"});
        w.refresh_sessions();
        on_next_modal("dialog_configuracoes", [](QWidget* dialog) {
            dialog->findChild<QLineEdit*>()->setText(QDate::currentDate().toString("yyyyMMdd"));
            dialog->findChild<QPushButton*>("btn_ok")->click();
        });
        child<QPushButton>(&w, "btn_configuracoes")->click();
        QVERIFY(!child<QPushButton>(&w, "btn_configuracoes")->isEnabled());
        QVERIFY(!buttons(w).contains('-'));
        auto* list = child<QListWidget>(&w, "lw_sessions");
        list->setCurrentRow(0);
        emit list->itemClicked(list->item(0));
        QCOMPARE(read_by_keyboard(w),
                 (QStringList{"Sessões", "Novo", "Alterar", "Excluir", "Exportar ...",
                              "Importar ...", "Criar atalhos"}));
    }

    // A double click opens it; "Sair" is refused while it runs, the server stays.
    void sessions_open_and_quit_waits_for_them() {
        store({"beta", "Alpha"});
        MainWindow w;
        w.show();
        // No current item: no menu, and opening says why.
        emit child<kelvra::ui::widget_session_list>(&w, "widget_sessions")
            ->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(QApplication::activePopupWidget() == nullptr);
        QStringList boxes;
        answer_boxes({"OK"}, &boxes);
        w.execute_current_session();
        QCOMPARE(boxes, QStringList{"Executar Sessão|Selecione uma sessão para executar|OK*"});
        QVERIFY(!has_recorded_calls(records_.path()));
        auto* list = child<QListWidget>(&w, "lw_sessions");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QString("Alpha"));
        QVERIFY(child<QPushButton>(&w, "btn_exportar")->isEnabled());
        // A refresh replaces the submenu's entries and leaves none behind.
        int const actions = w.findChildren<QAction*>().size();
        w.refresh_sessions();
        QCOMPARE(w.findChildren<QAction*>().size(), actions);

        QString const hold = records_.filePath("hold");
        QVERIFY(write_file(hold, {}));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        auto release = qScopeGuard([&] {
            QFile::remove(hold);
            qunsetenv("KELVRA_RECORD_HOLD");
        });
        list->setCurrentRow(1);
        emit child<kelvra::ui::widget_session_list>(&w, "widget_sessions")->doubleClicked();
        QTRY_VERIFY_WITH_TIMEOUT(has_recorded_calls(records_.path()), 30000);
        QList<QStringList> const calls = take_recorded_calls(records_.path());
        QCOMPARE(calls.first().mid(0, 3), (QStringList{"-load", "beta", "-pw"}));
        QVERIFY(kelvra::manager::instance().has_running());

        answer_boxes({"Sim", "OK"}, &boxes);
        w.confirm_quit();
        QCOMPARE(boxes.mid(1),
                 (QStringList{"Encerrar Kelvra|Tem certeza que deseja encerrar o Kelvra?|Sim,Nao*",
                              "Kelvra|Feche todas as conexões antes de finalizar o Kelvra|OK*"}));
        QVERIFY(kelvra::communication::server::instance().is_listening());

        QSignalSpy finished(&kelvra::manager::instance(), &kelvra::manager::all_finished);
        QFile::remove(hold); // the terminal program ends
        QVERIFY(finished.wait(30000));

        // Moving through the list by keyboard makes a session current as a click does, and
        // "Excluir" then asks first, "Não" before "Sim".
        w.refresh_sessions();
        auto* change = child<QPushButton>(&w, "btn_alterar");
        auto* remove = child<QPushButton>(&w, "btn_excluir");
        QVERIFY(!change->isEnabled() && !remove->isEnabled());
        QTest::keyClick(list, Qt::Key_Down);
        QVERIFY(list->currentItem() && change->isEnabled() && remove->isEnabled());
        QString const removed = list->currentItem()->text();
        answer_boxes({"Sim"}, &boxes);
        remove->click();
        QCOMPARE(boxes.last(), "Excluir Sessão|Tem certeza que deseja excluir a sessão '" +
                                   removed + "' ?|Não,Sim*");
        QCOMPARE(list->count(), 1);
        QVERIFY(list->item(0)->text() != removed);
        // Offscreen has no tray to come back from: closing minimizes instead.
        QVERIFY(w.close() || w.isMinimized());
        QVERIFY(w.isVisible());
        QTRY_VERIFY(w.isMinimized());
    }
};

KELVRA_INSTALLED_TEST_MAIN(tst_main_window)
#include "tst_main_window.moc"
