// bin/kelvra on a private X server, driven as a user would.
#include "communication/client_exchange.hpp"
#include "support/machine_identity.hpp"
#include "support/processes.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"
#include "support/xvfb.hpp"

#include <QTest>

using namespace kelvra::testing;

class tst_startup : public QObject {
    Q_OBJECT

    kelvra_installation installed_{KELVRA_EXECUTABLE, KELVRA_RECORDING_PUTTY};
    xvfb x_;

    // The one mapped window titled `title`, once it is there.
    static QString window(QString const& title) {
        QStringList ids;
        (void)QTest::qWaitFor([&] { return !(ids = visible_windows(title)).isEmpty(); },
                              process_timeout_ms);
        return ids.size() == 1 ? ids.first() : QString();
    }

    // Focuses the window titled `title` and types `keys` into it.
    static void type(QString const& title, QStringList const& keys) {
        QString const id = window(title);
        QVERIFY2(!id.isEmpty(), qPrintable(title));
        QVERIFY(xdotool(QStringList{"windowfocus", "--sync", id, "key"} + keys));
    }

    // "Arquivo" > "Sair" > "Sim": the instance ends with 0, the tunnel's port free.
    static void quit(QProcess& instance) {
        QString const main = window("Kelvra");
        QVERIFY(!main.isEmpty());
        // "Arquivo" is the first menu of the bar, at the window's top left.
        QVERIFY(xdotool({"mousemove", "--window", main, "20", "10", "click", "1"}));
        QTRY_COMPARE_WITH_TIMEOUT(visible_windows_of(instance.processId()).size(), 2,
                                  process_timeout_ms);
        // The open menu takes the keys: "Novo", "Sair".
        QVERIFY(xdotool({"key", "Down", "Down", "Return"}));
        type("Encerrar Kelvra", {"Tab", "space"}); // "Nao" is the default: over to "Sim"
        QVERIFY(instance.waitForFinished(process_timeout_ms));
        QVERIFY2(instance.exitStatus() == QProcess::NormalExit && instance.exitCode() == 0,
                 instance.readAllStandardError().constData());
        QCOMPARE(port_taken(59565), QString());
    }

private slots:
    void initTestCase() {
        QString const error = installed_.error();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(x_.is_ready(), qPrintable(x_.error()));
        qputenv("DISPLAY", x_.display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
        // No GL driver: it leaks at exit where LeakSanitizer cannot attribute it.
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    }

    // An unknown session: the error box, no window, status 1 once answered.
    void error_box_then_bare_start() {
        child_process start;
        start.start(installed_.kelvra(), {"--load", "Nenhuma"});
        QVERIFY(!window("Error").isEmpty());
        QCOMPARE(visible_windows("Kelvra"), QStringList());
        type("Error", {"Return"});
        QVERIFY(start.waitForFinished(process_timeout_ms));
        QCOMPARE(start.exitCode(), 1);
        start.start(installed_.kelvra(),
                    QStringList()); // a bare start shows the window until "Sair"
        quit(start);
    }

    // Without a tray to hide in, automatic opening starts it iconic; a bare
    // start brings it up. (Which sessions open is the hand-over test's.)
    void automatic_opening_starts_minimized_without_a_tray() {
        for (auto [name, autostart] :
             {std::pair{"Vendas", true}, {"Caixa", false}, {"estoque", true}}) {
            QVERIFY(installed_.save(name, autostart));
        }
        child_process instance;
        instance.start(installed_.kelvra(), {"--auto-open-connection"});
        QTRY_COMPARE_WITH_TIMEOUT(recorded_calls(installed_.records.path()).size(), 2,
                                  process_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(kelvra::communication::probe_is_running(), process_timeout_ms);
        QString const main = window("Kelvra");
        QVERIFY(!main.isEmpty());
        // No window manager here to iconify it: the request is in its hints.
        auto const hints = run_program(
            "xprop", {"-display", qEnvironmentVariable("DISPLAY"), "-id", main, "WM_HINTS"});
        QVERIFY2(hints.out.contains("Iconic"), hints.out.constData());
        QCOMPARE(run_program(installed_.kelvra(), {}).code, 0);
        QVERIFY(!window("Kelvra").isEmpty());
        quit(instance);
    }
};

QTEST_GUILESS_MAIN(tst_startup)
#include "tst_startup.moc"
