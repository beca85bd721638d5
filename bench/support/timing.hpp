#pragma once

// Timing helpers shared by the benchmarks.

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// The median in milliseconds of `runs` calls of `operation`.
template <class Operation> double median_ms(int runs, Operation&& operation) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        operation();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// One figure as a `name value unit` line, out at once.
inline void line(char const* name, double value, char const* unit) {
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace kelvra::bench
