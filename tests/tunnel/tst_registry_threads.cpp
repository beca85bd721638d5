// Registry lookups during registrations, under ThreadSanitizer. A plain program: Qt Test's
// watchdog thread synchronises inside Qt, where ThreadSanitizer cannot see it.

#include "connections/connection_registry.hpp"

#include <atomic>
#include <cstdio>
#include <thread>

int main() {
    kelvra::connection_registry registry;
    kelvra::connection c;
    c.name = QStringLiteral("first");
    QString const first = registry.add(c);
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    std::thread reader([&] {
        for (int i = 0; !stop || i < 1000; ++i) {
            wrong += registry.find(first).value_or(kelvra::connection{}).name != "first";
        }
    });
    for (int i = 0; i < 5000; ++i) {
        c.name = QString::number(i);
        wrong += registry.find(registry.add(c)).value_or(kelvra::connection{}).name != c.name;
    }
    stop = true;
    reader.join();
    std::printf("%s: %ld wrong lookups\n", wrong == 0 ? "PASS" : "FAIL", wrong.load());
    return wrong == 0 ? 0 : 1;
}
