#include "support/machine_identity.hpp"

#include "crypto/installation_identity.hpp"

#include <QFile>
#include <QTemporaryDir>

namespace kelvra::testing {

namespace identity = kelvra::crypto;

machine_identity::machine_identity()
    : bus_(std::make_unique<private_bus>(QStringLiteral(KELVRA_PRIVATE_BUS_CONFIG),
                                         QStringLiteral(KELVRA_UDISKS2_STANDIN))) {
    ready_ = bus_->is_running() && restart();
}

bool machine_identity::restart() {
    return bus_->start_standin({QStringLiteral("--sysfs"), QStringLiteral("/sys")});
}

brano::core::v6::byte_array machine_identity::key_for(QString const& program_path) {
    QTemporaryDir dir;
    QString const link = dir.filePath(QStringLiteral("exe"));
    if (!QFile::link(program_path, link)) {
        return {};
    }
    identity::system_paths paths;
    paths.program_link = link.toStdString();
    brano::core::v6::result::stack status;
    std::string const text = identity::get_installation_identity(paths, nullptr, status);
    if (status.has_failed()) {
        return {};
    }
    return brano::core::v6::byte_array(text);
}

} // namespace kelvra::testing
