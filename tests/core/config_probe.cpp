// Reads the installation configuration of the installation it was copied
// into, twice: before and after etc/config.json is written, so that a test
// can see that the file is read once per process.
#include "core/application_directory.hpp"
#include "core/describe_stack.hpp"
#include "core/installation_config.hpp"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

void print(char const* label, kelvra::installation_config const& config) {
    std::printf("%s object=%p failed=%d codigo=%lld nome=%s\n%s", label,
                static_cast<void const*>(&config), config.status.has_failed() ? 1 : 0,
                static_cast<long long>(config.codigo), config.nome_fantasia.toUtf8().constData(),
                kelvra::describe_stack(config.status).c_str());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    print("first", kelvra::installation_config::get());

    brano::core::v6::result::stack status;
    QDir const etc = kelvra::application_directory(QStringLiteral("etc"), status);
    QFile file(etc.filePath(QStringLiteral("config.json")));
    if (status.has_failed() || !file.open(QIODevice::WriteOnly) ||
        file.write("{\"codigo\": 77}") < 0) {
        return 2;
    }
    file.close();
    print("second", kelvra::installation_config::get());
    return 0;
}
