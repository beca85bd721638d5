#pragma once

#include "tunnel/tunnel_thread.hpp"

#include <QIcon>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;

namespace Ui {
class MainWindow;
}

namespace kelvra::ui {

// The program's window: the saved sessions, the buttons that lead to the
// editors and dialogs, the tray icon with its menu. It owns the tunnel
// server and its thread, so the tunnel lives exactly as long as the window.
// It starts restricted ("Novo" and "Configurações" only); the settings
// password unlocks the editing buttons. Closing it keeps Kelvra in the tray.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Rebuilds the list and the tray's "Sessões" submenu from the store.
    void refresh_sessions();
    // "Sair": asks, then quits unless a terminal program still runs.
    void confirm_quit();

    QSystemTrayIcon* tray_icon() const { return tray_icon_; }
    QMenu* tray_menu() const { return tray_menu_; }

public slots:
    void upgrade_available();
    void open_connection(QString const& name);
    void on_btn_novo_clicked();
    void on_btn_alterar_clicked();
    void on_btn_excluir_clicked();
    void suporte_clicked();
    void execute_current_session();
    void create_session_desktop_shortcut();
    void on_btn_exportar_clicked();
    void on_btn_importar_clicked();
    void on_btn_configuracoes_clicked();
    void on_btn_criar_atalhos_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_tray();
    void build_menus();
    void show_context_menu(QPoint const& pos);
    void unlock();
    // Runs `work` with the whole window disabled.
    template <class Work> void while_disabled(Work&& work);

    std::unique_ptr<Ui::MainWindow> form_;
    QIcon icon_;
    QMenu* file_menu_ = nullptr;
    QMenu* preferences_menu_ = nullptr;
    QMenu* help_menu_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    QMenu* sessions_menu_ = nullptr;
    QAction* update_action_ = nullptr;
    QSystemTrayIcon* tray_icon_ = nullptr;
    // Started first and stopped last: the tunnel serves while the window
    // lives.
    std::unique_ptr<tunnel::tunnel_thread> tunnel_;
};

} // namespace kelvra::ui
