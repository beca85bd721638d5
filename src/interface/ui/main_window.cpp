#include "interface/ui/main_window.hpp"

#include "ui_main_window.h"

#include "communication/server.hpp"
#include "connections/desktop_shortcut.hpp"
#include "connections/manager.hpp"
#include "core/application_directory.hpp"
#include "core/log.hpp"
#include "core/tunnel_port.hpp"
#include "interface/help/about.hpp"
#include "interface/help/dialog_manuals.hpp"
#include "interface/preferences/dialog_aparencia.hpp"
#include "interface/preferences/dialog_configuracoes.hpp"
#include "interface/preferences/style.hpp"
#include "interface/question.hpp"
#include "interface/sessions/dialog_alterar.hpp"
#include "interface/sessions/dialog_criar_atalhos.hpp"
#include "interface/sessions/dialog_exportar.hpp"
#include "interface/sessions/dialog_importar.hpp"
#include "interface/sessions/dialog_novo.hpp"
#include "interface/show_error.hpp"
#include "interface/support/dialog_suporte.hpp"
#include "interface/support/support_launch.hpp"
#include "sessions/session_store.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace kelvra::ui {

namespace result = brano::core::v6::result;
using interface::ask;
using interface::show_error;

namespace {

constexpr int balloon_ms = 10000;

void inform(QWidget* parent, QString const& title, QString const& text) {
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

// Whether the desktop shows tray icons: without one, a hidden window could
// only be reached by starting Kelvra again.
bool tray_available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), form_(std::make_unique<Ui::MainWindow>()) {
    tunnel_ = std::make_unique<tunnel::tunnel_thread>(tunnel_port);

    form_->setupUi(this);
    setFixedSize(frameGeometry().size());
    if (QScreen const* screen = QGuiApplication::primaryScreen()) {
        QRect const area = screen->geometry();
        move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
    }
    form_->widget_sessions->list()->setAccessibleName(form_->gb_conexoes->title());

    tray_menu_ = new QMenu(this);
    sessions_menu_ = new QMenu(this);
    update_action_ = new QAction(this);
    tray_icon_ = new QSystemTrayIcon(this);

    refresh_sessions();

    result::stack status;
    application_directory(QStringLiteral("."), status);
    if (status.has_failed()) {
        show_error(this, QStringLiteral("Não foi possível identificar o diretório de instalação"),
                   status);
    } else {
        icon_ = QIcon(QStringLiteral(":/resources/icon.ico"));
        setWindowIcon(icon_);
    }

    build_tray();

    result::stack appearance;
    interface::preferences::load_stored_appearance(appearance);
    if (appearance.has_failed()) {
        show_error(this, QStringLiteral("Ocorreu um erro ao carregar as configurações de exibição"),
                   appearance);
    }

    auto* list = form_->widget_sessions;
    connect(list, &widget_session_list::customContextMenuRequested, this,
            &MainWindow::show_context_menu);
    connect(list, &widget_session_list::doubleClicked, this, &MainWindow::execute_current_session);
    auto const enable_for_current = [this] {
        form_->btn_alterar->setEnabled(true);
        form_->btn_excluir->setEnabled(true);
    };
    connect(list, &widget_session_list::itemClicked, this, enable_for_current);
    // Moving through the list with the keyboard makes a session current just
    // as a click does; without this, "Alterar" and "Excluir" stayed out of
    // reach for whoever does not use a mouse.
    connect(list->list(), &QListWidget::currentItemChanged, this,
            [enable_for_current](QListWidgetItem* current) {
                if (current != nullptr) {
                    enable_for_current();
                }
            });

    for (QPushButton* button : {form_->btn_importar, form_->btn_exportar, form_->btn_alterar,
                                form_->btn_excluir, form_->btn_criar_atalhos}) {
        button->hide();
    }

    auto& server = communication::server::instance();
    connect(&server, &communication::server::open_application, this, &QWidget::showNormal);
    connect(&server, &communication::server::upgrade_available, this,
            &MainWindow::upgrade_available);
    connect(&server, &communication::server::open_connection, this, &MainWindow::open_connection);
    connect(&manager::instance(), &manager::launch_failed, this,
            [this](result::stack const& failure) {
                show_error(this, QStringLiteral("Ocorreu um erro ao iniciar a conexão"), failure);
            });

    build_menus();
}

MainWindow::~MainWindow() = default; // the tunnel thread stops with tunnel_

void MainWindow::build_tray() {
    sessions_menu_->setTitle(QStringLiteral("Sessões"));
    update_action_->setText(QStringLiteral("Atualizar"));
    update_action_->setEnabled(false);
    connect(update_action_, &QAction::triggered, this,
            [] { qCDebug(core_log) << "iniciando atualização ..."; });
    tray_menu_->addMenu(sessions_menu_);
    tray_menu_->addAction(update_action_);
    tray_menu_->addAction(QStringLiteral("Maximizar"), this, &QWidget::showNormal);
    tray_menu_->addSeparator();
    tray_menu_->addAction(QStringLiteral("Sair"), this, &MainWindow::confirm_quit);

    connect(tray_icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                }
            });
    tray_icon_->setContextMenu(tray_menu_);
    tray_icon_->setIcon(icon_);
    tray_icon_->setToolTip(QStringLiteral("Kelvra"));
    tray_icon_->setVisible(true);
}

void MainWindow::build_menus() {
    file_menu_ = menuBar()->addMenu(QStringLiteral("Arquivo"));
    file_menu_->addAction(QStringLiteral("Novo"), this, &MainWindow::on_btn_novo_clicked);
    file_menu_->addAction(QStringLiteral("Sair"), this, &MainWindow::confirm_quit);
    preferences_menu_ = menuBar()->addMenu(QStringLiteral("Preferências"));
    preferences_menu_->addAction(QStringLiteral("Aparência"), this, [this] {
        interface::preferences::dialog_aparencia dialog(this);
        dialog.exec();
    });
    help_menu_ = menuBar()->addMenu(QStringLiteral("Ajuda"));
    help_menu_->addAction(QStringLiteral("Manuais"), this, [this] {
        interface::help::dialog_manuals dialog(this);
        dialog.exec();
    });
    help_menu_->addAction(QStringLiteral("Sobre"), this, [this] {
        interface::help::about dialog(this);
        dialog.exec();
    });
}

template <class Work> void MainWindow::while_disabled(Work&& work) {
    setEnabled(false);
    work();
    setEnabled(true);
}

void MainWindow::refresh_sessions() {
    form_->widget_sessions->list()->clear();
    sessions_menu_->clear();
    form_->btn_alterar->setEnabled(false);
    form_->btn_excluir->setEnabled(false);

    result::stack status;
    QVector<session> const sessions = load_sessions(status);
    if (status.has_failed()) {
        form_->btn_exportar->setEnabled(false);
        sessions_menu_->setEnabled(false);
        show_error(this, QStringLiteral("Erro ao carregar a lista de sessões"), status);
        return;
    }
    form_->btn_exportar->setEnabled(!sessions.isEmpty());
    for (session const& s : sessions) {
        form_->widget_sessions->add_session(s, false);
        auto* action = new QAction(s.nome, sessions_menu_);
        connect(action, &QAction::triggered, this, [this, c = connection::from_session(s)] {
            result::stack opening;
            manager::instance().open(c, opening);
            show_error(this, opening);
        });
        sessions_menu_->addAction(action);
    }
    sessions_menu_->setEnabled(!sessions.isEmpty());
}

void MainWindow::upgrade_available() {
    update_action_->setEnabled(true);
    tray_icon_->showMessage(QStringLiteral("Kelvra"),
                            QStringLiteral("Tem uma atualização disponível para o Kelvra"),
                            QSystemTrayIcon::Information, balloon_ms);
}

void MainWindow::open_connection(QString const& name) {
    result::stack status;
    session const s = find_session(name, status);
    if (status.has_failed()) {
        show_error(this, QStringLiteral("Ocorreu um erro ao obter a sessão"), status);
        return;
    }
    manager::instance().open(connection::from_session(s), status);
    show_error(this, QStringLiteral("Ocorreu um erro ao iniciar a conexão"), status);
}

void MainWindow::on_btn_novo_clicked() {
    while_disabled([&] {
        interface::sessions::dialog_novo dialog(this);
        if (dialog.exec() == QDialog::Accepted) {
            refresh_sessions();
        }
    });
}

void MainWindow::on_btn_alterar_clicked() {
    if (!form_->widget_sessions->has_current()) {
        inform(this, QStringLiteral("Alterar Sessão"),
               QStringLiteral("Selecione uma sessão para alterar"));
        return;
    }
    while_disabled([&] {
        interface::sessions::dialog_alterar dialog(form_->widget_sessions->current_session(), this);
        if (dialog.exec() == QDialog::Accepted) {
            refresh_sessions();
        }
    });
}

void MainWindow::on_btn_excluir_clicked() {
    if (!form_->widget_sessions->has_current()) {
        inform(this, QStringLiteral("Excluir Sessão"),
               QStringLiteral("Selecione uma sessão para excluir"));
        return;
    }
    session const s = form_->widget_sessions->current_session();
    while_disabled([&] {
        QString const answer =
            ask(this, QStringLiteral("Excluir Sessão"),
                QStringLiteral("Tem certeza que deseja excluir a sessão '") + s.nome +
                    QStringLiteral("' ?"),
                {QStringLiteral("Não"), QStringLiteral("Sim")}, QStringLiteral("Sim"));
        if (answer != QStringLiteral("Sim")) {
            return;
        }
        result::stack status;
        remove_session(s, status);
        if (status.has_failed()) {
            show_error(this, QStringLiteral("Erro ao excluir a sessão"), status);
        } else {
            refresh_sessions();
        }
    });
}

void MainWindow::suporte_clicked() {
    if (!form_->widget_sessions->has_current()) {
        inform(this, QStringLiteral("Sessão de Suporte"),
               QStringLiteral("Selecione uma sessão para executar no modo suporte"));
        return;
    }
    connection const c = connection::from_session(form_->widget_sessions->current_session());
    interface::support::dialog_suporte dialog(this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    result::stack status;
    interface::support::launch_support_session(c, status);
    show_error(this, QStringLiteral("Erro ao executar a sessão"), status);
}

void MainWindow::execute_current_session() {
    if (!form_->widget_sessions->has_current()) {
        inform(this, QStringLiteral("Executar Sessão"),
               QStringLiteral("Selecione uma sessão para executar"));
        return;
    }
    result::stack status;
    manager::instance().open(connection::from_session(form_->widget_sessions->current_session()),
                             status);
    show_error(this, QStringLiteral("Erro ao executar a sessão"), status);
}

void MainWindow::create_session_desktop_shortcut() {
    if (!form_->widget_sessions->has_current()) {
        inform(this, QStringLiteral("Criar atalho na Área de Trabalho"),
               QStringLiteral("Selecione uma sessão para criar um atalho na Área de Trabalho"));
        return;
    }
    QString const name = form_->widget_sessions->current_session().nome;
    result::stack status;
    write_shortcut(describe_session_shortcut(name), status);
    show_error(this, QStringLiteral("Erro ao criar atalho da sessão '") + name + QLatin1Char('\''),
               status);
}

void MainWindow::on_btn_exportar_clicked() {
    interface::sessions::dialog_exportar dialog(this);
    dialog.exec();
}

void MainWindow::on_btn_importar_clicked() {
    QString const file =
        QFileDialog::getOpenFileName(this, QStringLiteral("Selecione um arquivo para importação"),
                                     QString(), QStringLiteral("*.json"));
    if (file.isEmpty()) {
        return;
    }
    interface::sessions::dialog_importar dialog(file, this);
    if (dialog.exec() == QDialog::Accepted) {
        refresh_sessions();
    }
}

void MainWindow::on_btn_configuracoes_clicked() {
    interface::preferences::dialog_configuracoes dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        unlock();
    }
}

void MainWindow::unlock() {
    form_->btn_configuracoes->setEnabled(false);
    for (QPushButton* button : {form_->btn_importar, form_->btn_exportar, form_->btn_alterar,
                                form_->btn_excluir, form_->btn_criar_atalhos}) {
        button->show();
    }
}

void MainWindow::on_btn_criar_atalhos_clicked() {
    result::stack status;
    QVector<session> const sessions = load_sessions(status);
    if (status.has_failed()) {
        show_error(this, QStringLiteral("Erro ao carregar a lista de sessões"), status);
        return;
    }
    while_disabled([&] {
        interface::sessions::dialog_criar_atalhos dialog(sessions, this);
        dialog.exec();
    });
}

void MainWindow::show_context_menu(QPoint const& pos) {
    if (!form_->widget_sessions->has_current()) {
        return;
    }
    QMenu menu;
    menu.addAction(QStringLiteral("Executar"), this, &MainWindow::execute_current_session);
    menu.addAction(QStringLiteral("Suporte"), this, &MainWindow::suporte_clicked);
    menu.exec(form_->widget_sessions->mapToGlobal(pos));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!tray_available()) {
        // Hidden, the window could not be reached again: it stays on the
        // task bar instead.
        event->ignore();
        showMinimized();
        return;
    }
    tray_icon_->setVisible(true);
    tray_icon_->showMessage(QStringLiteral("Kelvra"),
                            QStringLiteral("O Kelvra continuará executando minimizado"),
                            QSystemTrayIcon::Information, balloon_ms);
    event->accept();
}

void MainWindow::confirm_quit() {
    if (ask(this, QStringLiteral("Encerrar Kelvra"),
            QStringLiteral("Tem certeza que deseja encerrar o Kelvra?"),
            {QStringLiteral("Sim"), QStringLiteral("Nao")},
            QStringLiteral("Nao")) != QStringLiteral("Sim")) {
        return;
    }
    if (manager::instance().has_running()) {
        // The local server keeps listening: a later start must still find
        // this instance rather than become a second one.
        inform(this, QStringLiteral("Kelvra"),
               QStringLiteral("Feche todas as conexões antes de finalizar o Kelvra"));
        return;
    }
    communication::server::instance().stop_listening();
    tunnel_.reset();
    QCoreApplication::quit();
}

} // namespace kelvra::ui
