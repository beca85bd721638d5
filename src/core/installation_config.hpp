#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

#include <cstdint>

namespace kelvra {

// The installation's identity from etc/config.json: the client code and
// trade name. Read once per process; a change needs a restart.
class installation_config {
public:
    // The single object, loaded on the first call (thread-safe). Check
    // `status` first: on failure the other fields keep their defaults.
    static installation_config const& get();

    // Loads the configuration of the installation whose executable lives in
    // `executable_dir`. Used by get(), and by tests on other roots.
    static installation_config load(QString const& executable_dir);

    std::int64_t codigo = 0;
    QString nome_fantasia;
    brano::core::v6::result::stack status;
};

} // namespace kelvra
