// The connection registry read from the tunnel thread while the window's
// thread registers connections, under ThreadSanitizer so that an
// unsynchronised access is reported even when it gives the right answer.
// A plain program: Qt Test's watchdog thread synchronises inside Qt, where
// ThreadSanitizer cannot see it, and would be reported as a race.

#include "connections/connection_registry.hpp"

#include <QStringList>

#include <atomic>
#include <cstdio>
#include <thread>

int main() {
    kelvra::connection_registry registry;
    QStringList known;
    for (int i = 0; i < 64; ++i) {
        kelvra::connection c;
        c.printers.resize(i % 4);
        known.append(registry.add(c));
    }
    // Read by another thread while more connections are added.
    std::atomic<bool> stop{false};
    long wrong = 0;
    std::thread reader([&] {
        for (int i = 0; !stop || i < 1000; ++i) {
            auto const found = registry.find(known[i % 64]);
            wrong += !found || found->printers.size() != i % 64 % 4;
        }
    });
    QStringList fresh;
    for (int i = 0; i < 5000; ++i) {
        kelvra::connection c;
        c.name = QStringLiteral("c%1").arg(i);
        fresh.append(registry.add(c));
    }
    stop = true;
    reader.join();
    for (int i = 0; i < fresh.size(); ++i) {
        auto const found = registry.find(fresh[i]);
        wrong += !found || found->name != QStringLiteral("c%1").arg(i);
    }
    std::printf("%s: %ld wrong lookups\n", wrong == 0 ? "PASS" : "FAIL", wrong);
    return wrong == 0 ? 0 : 1;
}
