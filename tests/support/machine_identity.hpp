#pragma once

#include "support/private_bus.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/byte_array.hpp>

#include <QString>

#include <memory>

namespace kelvra::testing {

// A working installation identity for tests on any machine: a private bus
// with the UDisks2 stand-in answering from this machine's sysfs, so that
// this process and the programs it starts find their drive serials.
class machine_identity {
public:
    machine_identity();

    bool is_ready() const { return ready_; }
    QString error() const { return bus_->error(); }
    // Stops and restarts the stand-in (to make the identity unavailable).
    void stop() { bus_->stop_standin(); }
    bool restart();

    // The installation key of a program at `program_path`, as that program
    // will compute it for itself.
    static brano::core::v6::byte_array key_for(QString const& program_path);
    // A session key text with `secret`, `command` and `path`, sealed for the
    // installation of the program at `program_path`: as stored (never
    // stamped), or stamped now as the launcher passes it on.
    static QString session_key_text(QString const& program_path, QByteArray const& secret,
                                    QString const& command, QString const& path,
                                    bool stamped = false);

private:
    std::unique_ptr<private_bus> bus_;
    bool ready_ = false;
};

// Saves session `name` in the installation whose programs are in `bin`, its
// key text sealed for bin/kelvra there.
bool save_sealed_session(QString const& bin, QString const& name, bool autostart,
                         QVector<printer> const& printers = {});

// bin/kelvra, and `putty` as libexec/putty, in a temporary installation with
// a private home and a working identity, as a user starts it. The recording
// terminal program writes its starts into `records`.
class kelvra_installation {
public:
    kelvra_installation(QString const& kelvra, QString const& putty);

    // Why the installation cannot be used, or empty.
    QString error() const;
    QString kelvra() const { return root.file(QStringLiteral("bin/kelvra")); }
    bool save(QString const& name, bool autostart, QVector<printer> const& printers = {}) const {
        return save_sealed_session(root.bin(), name, autostart, printers);
    }

    isolated_home home;
    install_root root;
    machine_identity identity;
    QTemporaryDir records;

private:
    bool installed_ = false;
};

} // namespace kelvra::testing
