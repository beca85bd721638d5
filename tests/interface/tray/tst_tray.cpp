#include "interface/widget_testing.hpp"

#include <QtDBus>

namespace {

QString const watcher_service = QStringLiteral("org.kde.StatusNotifierWatcher");

// The desktop's tray watcher, answering from its own thread as another program would.
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
};

// Calls over the session bus while events go on: the tray answers from here.
QDBusMessage call(QString const& service, QString const& path, QString const& interface,
                  QString const& method, QVariantList const& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 30000);
}

// A dbusmenu layout as text: labels joined by '|', "-" for a separator, '!' after
// a disabled entry, a submenu's entries in brackets; `menu_ids` gets their ids.
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
    QString const label = properties.value("label").toString();
    menu_ids[label] = id;
    bool const submenu = properties.value("children-display") == "submenu";
    return id == 0 ? children.join('|')
           : properties.value("type") == "separator"
               ? "-"
               : label + (properties.value("enabled", true).toBool() ? "" : "!") +
                     (submenu ? '[' + children.join('|') + ']' : QString());
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

    // Calls the last item's menu, found as a tray finds it: its "Menu" property.
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
        return describe(reply.arguments().value(1).value<QDBusArgument>()) + reply.errorMessage();
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

    // After a tray restart: the same menu; "Maximizar" and a click show the window.
    void menu() {
        QFETCH(QStringList, sessions);
        store(sessions);
        kelvra::ui::MainWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(items_.size(), 1, 30000);
        QTEST(layout(), "menu");
        QVERIFY(watcher_bus_.unregisterService(watcher_service));
        QVERIFY(watcher_bus_.registerService(watcher_service));
        QTRY_COMPARE_WITH_TIMEOUT(items_.size(), 2, 30000);
        QCOMPARE(items_.last(), items_.first());
        QTEST(layout(), "menu");
        QVERIFY(menu_ids.contains("Maximizar") && !w.isVisible());
        QCOMPARE(menu_call("Event", {menu_ids.value("Maximizar"), "clicked",
                                     QVariant::fromValue(QDBusVariant(0)), 0u})
                     .type(),
                 QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 30000);
        w.hide();
        call(items_.last(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
             {0, 0});
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 30000);
    }
};

// On an X display and a session bus of its own.
QStringList const own_display{"env", "QT_QPA_PLATFORM=xcb", "xvfb-run",
                              "-a",  "dbus-run-session",    "--"};
KELVRA_INSTALLED_TEST_MAIN_WITH(tst_tray, own_display)
#include "tst_tray.moc"
