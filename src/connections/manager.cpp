#include "connections/manager.hpp"

#include <QUuid>

namespace kelvra {

manager& manager::instance() {
    static manager object;
    return object;
}

std::optional<connection> manager::find(QString const& connection_id) const {
    std::lock_guard<std::mutex> guard(registry_lock_);
    auto const it = connections_.find(connection_id);
    if (it == connections_.end()) {
        return std::nullopt;
    }
    return it->second;
}

QString manager::register_connection(connection const& c) {
    QString const id = new_connection_id();
    std::lock_guard<std::mutex> guard(registry_lock_);
    connections_.emplace(id, c); // an id already present is not replaced
    return id;
}

QString manager::new_connection_id() {
    return QString::fromLatin1(QUuid::createUuid().toByteArray().toHex());
}

} // namespace kelvra
