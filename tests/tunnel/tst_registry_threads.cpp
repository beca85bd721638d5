// The connection registry read from the tunnel thread while the window's
// thread registers connections. Built with ThreadSanitizer (and not with
// the other sanitizers), so that an unsynchronised access is reported even
// when it happens to give the right answer.
//
// A plain program rather than a Qt Test one: Qt Test's watchdog thread
// synchronises inside Qt, where ThreadSanitizer cannot see it, and would be
// reported as racing with the test itself.

#include "connections/connection_registry.hpp"

#include <QStringList>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

int failures = 0;

void check(bool condition, char const* what) {
    if (!condition) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

} // namespace

int main() {
    kelvra::connection_registry registry;
    QStringList known;
    for (int i = 0; i < 64; ++i) {
        kelvra::connection c;
        c.printers.resize(i % 4);
        known.append(registry.add(c));
    }

    std::atomic<bool> stop{false};
    std::atomic<long> lookups{0};
    std::atomic<long> wrong{0};
    std::thread reader([&] {
        for (long i = 0; !stop.load(std::memory_order_relaxed) || i < 1000; ++i) {
            int const n = static_cast<int>(i % known.size());
            auto const found = registry.find(known[n]);
            if (!found || found->printers.size() != n % 4) {
                ++wrong;
            }
            ++lookups;
        }
    });
    QStringList fresh;
    for (int i = 0; i < 5000; ++i) {
        kelvra::connection c;
        c.name = QStringLiteral("c%1").arg(i);
        c.printers.resize(1);
        fresh.append(registry.add(c));
    }
    stop = true;
    reader.join();

    check(wrong.load() == 0, "a registered connection was not found while others were added");
    check(lookups.load() >= 1000, "the reader did not run");
    for (int i = 0; i < fresh.size(); ++i) {
        auto const found = registry.find(fresh[i]);
        check(found.has_value() && found->name == QStringLiteral("c%1").arg(i),
              "a connection added meanwhile is missing or wrong");
    }
    std::printf("%s: %ld lookups during %d registrations\n", failures == 0 ? "PASS" : "FAIL",
                lookups.load(), int(fresh.size()));
    return failures == 0 ? 0 : 1;
}
