#include "connections/connection_registry.hpp"

#include <QUuid>

namespace kelvra {

QString connection_registry::add(connection const& c) {
    QString const id = new_connection_id();
    std::lock_guard<std::mutex> guard(lock_);
    connections_.emplace(id, c); // an id already present is not replaced
    return id;
}

std::optional<connection> connection_registry::find(QString const& connection_id) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto const it = connections_.find(connection_id);
    if (it == connections_.end()) {
        return std::nullopt;
    }
    return it->second;
}

QString connection_registry::new_connection_id() {
    return QString::fromLatin1(QUuid::createUuid().toByteArray().toHex());
}

} // namespace kelvra
