#include "support/xvfb.hpp"

#include "support/processes.hpp"

#include <QRegularExpression>

#include <optional>

namespace kelvra::testing {

xvfb::xvfb() {
    // Xvfb writes the display number it took to the given descriptor once
    // it accepts clients.
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                   QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp")});
    if (!server_.waitForStarted()) {
        error_ = QStringLiteral("Xvfb does not start: ") + server_.errorString();
        return;
    }
    std::optional<QByteArray> const number = wait_for_line(server_);
    if (!number || !QRegularExpression(QStringLiteral("^\\d+$")).match(*number).hasMatch()) {
        error_ = QStringLiteral("Xvfb gave no display: ") + server_.readAllStandardError();
        return;
    }
    display_ = QLatin1Char(':') + QString::fromLatin1(*number);
}

xvfb::~xvfb() {
    if (server_.state() != QProcess::NotRunning) {
        stop_process(server_);
    }
}

bool xdotool(QStringList const& arguments, QStringList* lines) {
    finished_program const run = run_program(QStringLiteral("xdotool"), arguments);
    if (lines != nullptr) {
        *lines = QString::fromLocal8Bit(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return run.code == 0;
}

QStringList visible_windows(QString const& title) {
    QStringList ids;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + title + QLatin1Char('$')},
            &ids);
    return ids;
}

QStringList visible_windows_of(qint64 pid) {
    QStringList ids;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
             QString::number(pid)},
            &ids);
    return ids;
}

} // namespace kelvra::testing
