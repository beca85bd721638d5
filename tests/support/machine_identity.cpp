#include "support/machine_identity.hpp"

#include "crypto/installation_identity.hpp"
#include "crypto/session_key.hpp"

#include <brano/core/v6/datetime.hpp>

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

QString machine_identity::session_key_text(QString const& program_path, QByteArray const& secret,
                                           QString const& command, QString const& path,
                                           bool stamped) {
    crypto::session_key key;
    if (stamped) {
        key.timestamp = brano::core::v6::datetime::now();
    }
    key.device_key = key_for(program_path);
    key.secret = brano::core::v6::byte_array(secret.toStdString());
    key.command = command.toStdString();
    key.path = path.toStdString();
    brano::core::v6::result::stack status;
    return QString::fromStdString(crypto::encrypt_session_key(key, status));
}

} // namespace kelvra::testing
