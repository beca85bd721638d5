#pragma once

// Child programs of the tests. Header-only, so that whatever builds a
// fixture's source on its own (a benchmark, say) needs nothing more.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <optional>

namespace kelvra::testing {

// Generous bound for a step of a child program: only a real hang reaches it.
constexpr int process_timeout_ms = 60000;

// How a program ended; `code` is -1 when it crashed or hung.
struct finished_program {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

inline finished_program run_program(QString const& program, QStringList const& arguments,
                                    QByteArray const& input = {}) {
    QProcess p;
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    bool const ended = p.waitForFinished(process_timeout_ms);
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput(), p.readAllStandardError()};
}

// The first line of `process`'s standard output that starts with `prefix`,
// without its end; lines before it are consumed. Nothing when the process
// ends or stays silent for `timeout_ms` first.
inline std::optional<QByteArray> wait_for_line(QProcess& process, QByteArray const& prefix = {},
                                               int timeout_ms = process_timeout_ms) {
    QDeadlineTimer const deadline(timeout_ms);
    for (;;) {
        while (process.canReadLine()) {
            QByteArray const line = process.readLine().chopped(1);
            if (line.startsWith(prefix)) {
                return line;
            }
        }
        if ((process.state() == QProcess::NotRunning || deadline.hasExpired() ||
             !process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) &&
            !process.canReadLine()) {
            return std::nullopt;
        }
    }
}

// Terminates `process`, and kills it if it lingers.
inline void stop_process(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

// Closes the input of `process` (the test programs end on that) and waits
// for its end; stops it if it lingers.
inline void end_process(QProcess& process) {
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(10000)) {
        stop_process(process);
    }
}

// A child program that is ended when the object goes.
struct child_process : QProcess {
    ~child_process() override { end_process(*this); }
};

} // namespace kelvra::testing
