#pragma once

// Timing helpers shared by the benchmarks.

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvra::bench {

// Microseconds per call: the best of several rounds of `count` calls. The
// machine is shared and noisy; the fastest round is the least disturbed.
template <class Operation>
double microseconds_per_call(int count, Operation operation, int rounds = 5) {
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        auto const start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            operation();
        }
        std::chrono::duration<double, std::micro> const elapsed =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / count);
    }
    return best;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Milliseconds taken by one call of `operation`. What it returns is freed
// once the clock has stopped: the time is that of the work, not of the
// clean-up after it.
template <class Operation> double elapsed_ms(Operation&& operation) {
    QElapsedTimer timer;
    timer.start();
    if constexpr (std::is_void_v<decltype(operation())>) {
        operation();
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    } else {
        auto const result = operation();
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
}

// The median in milliseconds of `runs` calls of `operation`.
template <class Operation> double median_ms(int runs, Operation&& operation) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(elapsed_ms(operation));
    }
    return median(times);
}

// The medians in milliseconds of `runs` calls each of `baseline` and
// `measured`, called in turn: both meet the machine in the same state, so
// their ratio holds even while the machine is busy.
template <class Baseline, class Measured>
std::pair<double, double> paired_median_ms(int runs, Baseline&& baseline, Measured&& measured) {
    std::vector<double> baseline_times;
    std::vector<double> measured_times;
    for (int i = 0; i < runs; ++i) {
        baseline_times.push_back(elapsed_ms(baseline));
        measured_times.push_back(elapsed_ms(measured));
    }
    return {median(baseline_times), median(measured_times)};
}

// One figure as a `name value unit` line, out at once.
inline void line(char const* name, double value, char const* unit) {
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace kelvra::bench
