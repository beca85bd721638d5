#pragma once

#include "sessions/session.hpp"

#include <QListWidget>
#include <QMetaType>
#include <QPoint>
#include <QVector>
#include <QWidget>

#include <memory>


namespace Ui {
class widget_session_list;
}

Q_DECLARE_METATYPE(kelvra::session)

namespace kelvra::ui {

// The list of sessions that the main window and the import and export
// dialogs show: one item per session, carrying a copy of the record.
class widget_session_list : public QWidget {
    Q_OBJECT

public:
    explicit widget_session_list(QWidget* parent = nullptr);
    ~widget_session_list() override;

    // Appends an item showing the session's name; a checkable item starts
    // checked.
    void add_session(session const& s, bool checkable);
    // The sessions of every checked item, in list order.
    QVector<session> checked_sessions() const;
    // The session of the current item; an empty record without one.
    session current_session() const;
    bool has_current() const;

    QListWidget* list() const;

signals:
    void customContextMenuRequested(QPoint const& pos);
    void doubleClicked();
    void itemClicked(QListWidgetItem* item);

private:
    std::unique_ptr<Ui::widget_session_list> form_;
};

} // namespace kelvra::ui
