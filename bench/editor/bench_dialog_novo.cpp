// Opening "Nova sessão" until it is shown, against showing an empty QDialog
// the same way in the same run, on the offscreen platform. The form asks the
// workstation's CUPS for its printers as it opens: what that costs depends on
// the scheduler this process reaches (CUPS_SERVER, or none).
#include "interface/resources.hpp"
#include "interface/sessions/dialog_novo.hpp"
#include "support/timing.hpp"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QWindow>

#include <cstdio>
#include <vector>

namespace {

int const runs = 31;

// Builds a dialog with `make`, shows it and waits until its window is
// exposed; the dialog goes afterwards, outside the measured time.
template <class Make> double median_shown_ms(Make&& make) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        auto dialog = make();
        dialog->show();
        while (dialog->windowHandle() == nullptr || !dialog->windowHandle()->isExposed()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        dialog.reset();
        QCoreApplication::processEvents();
    }
    return kelvra::bench::median(times);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    kelvra::interface::register_resources();
    QApplication application(argc, argv);
    // Once each first: the style, fonts and printer plugin load only once.
    median_shown_ms([] { return std::make_unique<kelvra::interface::sessions::dialog_novo>(); });
    double const empty = median_shown_ms([] { return std::make_unique<QDialog>(); });
    double const novo = median_shown_ms(
        [] { return std::make_unique<kelvra::interface::sessions::dialog_novo>(); });
    std::printf("# \"Nova sessão\" until shown against an empty QDialog (median of %d)\n", runs);
    std::printf("dialog_novo_shown %.3f ms\n", novo);
    std::printf("empty_dialog_shown %.3f ms\n", empty);
    std::printf("novo_over_empty %.2f ratio\n", novo / empty);
    return 0;
}
