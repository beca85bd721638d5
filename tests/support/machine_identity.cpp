#include "support/machine_identity.hpp"

#include "crypto/installation_identity.hpp"
#include "crypto/session_key.hpp"
#include "sessions/session_store.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

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

bool save_sealed_session(QString const& bin, QString const& name, bool autostart,
                         QVector<printer> const& printers) {
    session s;
    s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    s.nome = name;
    s.key =
        machine_identity::session_key_text(bin + QStringLiteral("/kelvra"), "s3nh@",
                                           QStringLiteral("mirtel"), QStringLiteral("/srv/mirtel"));
    s.impressoras = printers;
    s.autostart = autostart;
    brano::core::v6::result::stack status;
    detail::session_store(bin).save_session(s, status);
    return !status.has_failed();
}

kelvra_installation::kelvra_installation(QString const& kelvra, QString const& putty) {
    installed_ = root.install(kelvra, QStringLiteral("bin/kelvra")) &&
                 root.install(putty, QStringLiteral("libexec/putty"));
    qputenv("KELVRA_RECORD_DIR", records.path().toLocal8Bit());
}

QString kelvra_installation::error() const {
    if (!identity.is_ready()) {
        return identity.error();
    }
    return installed_ ? port_taken(59565) // the tunnel's fixed port
                      : QStringLiteral("the programs could not be installed");
}

} // namespace kelvra::testing
