#include "interface/resources.hpp"
#include "interface/ui/main_window.hpp"
#include "sessions/session_store.hpp"
#include "support/test_environment.hpp"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

using kelvra::ui::MainWindow;

namespace {

QString const watcher_service = QStringLiteral("org.kde.StatusNotifierWatcher");

// The desktop's side of the tray: items register with it, and it says that
// a host shows them. It answers from a thread of its own, as another
// program would, while the window's thread waits for it.
class status_notifier_watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ host_registered)

public:
    bool host_registered() const { return true; }

public slots:
    void RegisterStatusNotifierItem(QString const& service) {
        emit StatusNotifierItemRegistered(service);
    }

signals:
    void StatusNotifierItemRegistered(QString const& service);
    void StatusNotifierItemUnregistered(QString const& service);
    void StatusNotifierHostRegistered();
};

// Calls over the session bus while events go on: the tray answers from this
// thread.
QDBusMessage call(QString const& service, QString const& path, QString const& interface,
                  QString const& method, QVariantList const& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 30000);
}

// A dbusmenu layout as text: labels joined by '|', "-" for a separator, '!'
// after a disabled entry, a submenu's entries in brackets. Notes each
// label's entry id in `menu_ids`.
QMap<QString, int> menu_ids;
QString describe(QDBusArgument const& node) {
    int id = 0;
    QVariantMap properties;
    QStringList children;
    node.beginStructure();
    node >> id >> properties;
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        children << describe(child.variant().value<QDBusArgument>());
    }
    node.endArray();
    node.endStructure();
    if (id == 0)
        return children.join('|');
    if (properties.value("type") == "separator")
        return "-";
    QString text = properties.value("label").toString();
    menu_ids[text] = id;
    if (!properties.value("enabled", true).toBool())
        text += '!';
    if (properties.value("children-display") == "submenu")
        text += '[' + children.join('|') + ']';
    return text;
}

} // namespace

class tst_tray : public QObject {
    Q_OBJECT

    QThread thread_;
    status_notifier_watcher* watcher_ = new status_notifier_watcher; // goes with thread_
    QDBusConnection watcher_bus_ =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
    QStringList items_; // as registered with the watcher
    kelvra::testing::isolated_home home_;

    // A store with these sessions, for a window whose icon registers anew.
    void store(QStringList const& names) {
        items_.clear();
        QDir(QCoreApplication::applicationDirPath() + "/../var/sessions").removeRecursively();
        for (QString const& name : names) {
            kelvra::session s;
            s.id = QUuid::createUuid().toString();
            s.nome = name;
            brano::core::v6::result::stack status;
            kelvra::save_session(s, status);
            QVERIFY(!status.has_failed());
        }
    }

    // Calls the menu of the item that registered last, found as a tray finds
    // it: through the item's "Menu" property.
    QDBusMessage menu_call(QString const& method, QVariantList const& arguments) {
        QDBusMessage const menu =
            call(items_.last(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                 {"org.kde.StatusNotifierItem", "Menu"});
        QDBusVariant const path = menu.arguments().value(0).value<QDBusVariant>();
        return call(items_.last(), path.variant().value<QDBusObjectPath>().path(),
                    "com.canonical.dbusmenu", method, arguments);
    }

    QString layout() {
        QDBusMessage const reply = menu_call("GetLayout", {0, -1, QStringList()});
        return reply.type() != QDBusMessage::ReplyMessage
                   ? reply.errorMessage()
                   : describe(reply.arguments().value(1).value<QDBusArgument>());
    }

private slots:
    void initTestCase() {
        connect(watcher_, &status_notifier_watcher::StatusNotifierItemRegistered, this,
                [this](QString const& service) { items_ << service; });
        QVERIFY(watcher_bus_.registerObject("/StatusNotifierWatcher", watcher_,
                                            QDBusConnection::ExportAllContents));
        watcher_->moveToThread(&thread_);
        connect(&thread_, &QThread::finished, watcher_, &QObject::deleteLater);
        thread_.start();
        QVERIFY(watcher_bus_.registerService(watcher_service));
    }

    void cleanupTestCase() {
        thread_.quit();
        thread_.wait();
    }

    void menu_data() {
        QTest::addColumn<QStringList>("sessions");
        QTest::addColumn<QString>("menu");
        QTest::newRow("no sessions") << QStringList() << "Sessões![]|Atualizar!|Maximizar|-|Sair";
        QTest::newRow("two sessions")
            << QStringList{"beta", "Alpha"} << "Sessões[Alpha|beta]|Atualizar!|Maximizar|-|Sair";
    }

    // The desktop's tray restarts: the icon registers with the new one, with
    // the same menu, whose "Maximizar" and a click on the icon show the window.
    void menu() {
        QFETCH(QStringList, sessions);
        store(sessions);
        MainWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(items_.size(), 1, 30000);
        QTEST(layout(), "menu");
        QVERIFY(watcher_bus_.unregisterService(watcher_service));
        QVERIFY(watcher_bus_.registerService(watcher_service));
        QTRY_COMPARE_WITH_TIMEOUT(items_.size(), 2, 30000);
        QCOMPARE(items_.last(), items_.first());
        QTEST(layout(), "menu");
        QVERIFY(menu_ids.contains("Maximizar") && !w.isVisible());
        QDBusMessage const clicked = menu_call("Event", {menu_ids.value("Maximizar"), "clicked",
                                                         QVariant::fromValue(QDBusVariant(0)), 0u});
        QCOMPARE(clicked.type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 30000);
        w.hide();
        call(items_.last(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
             {0, 0});
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 30000);
    }
};

int main(int argc, char** argv) {
    if (!kelvra::testing::in_installation()) {
        // On an X display and a session bus of its own.
        QCoreApplication probe(argc, argv);
        qputenv("QT_QPA_PLATFORM", "xcb");
        return kelvra::testing::run_installed("bin/tst_tray",
                                              {"xvfb-run", "-a", "dbus-run-session", "--"});
    }
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    tst_tray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
