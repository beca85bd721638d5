// The floor for the start-up benchmarks: a Qt Widgets program that shows an
// empty QMainWindow. With --quit it ends as soon as the window is shown.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(640, 480);
    window.show();
    if (application.arguments().contains(QStringLiteral("--quit"))) {
        QTimer::singleShot(0, &application, &QCoreApplication::quit);
    }
    return application.exec();
}
