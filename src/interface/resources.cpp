#include "interface/resources.hpp"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the bundles' functions where it is used, and they
// live in the global namespace: so these two stand outside any namespace,
// the anonymous one included.
static void init_bundles() {
    Q_INIT_RESOURCE(kelvra);
    Q_INIT_RESOURCE(lightstyle);
    Q_INIT_RESOURCE(darkstyle);
}

static void cleanup_bundles() {
    Q_CLEANUP_RESOURCE(darkstyle);
    Q_CLEANUP_RESOURCE(lightstyle);
    Q_CLEANUP_RESOURCE(kelvra);
}

namespace kelvra::interface {

void register_resources() {
    init_bundles();
}

void unregister_resources() {
    cleanup_bundles();
}

} // namespace kelvra::interface
