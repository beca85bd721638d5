// kelvra-identidade: prints, one line each, how the identity of this
// installation is found: the program it is found for (this one, which lives
// in the installation's libexec/ on the same file system as bin/kelvra), the
// mount entry of its file system, the block devices under it, the drive and
// serial of each, and the identity itself. When a step fails it prints the
// failure with every item's category, message and arguments. An empty
// identity is found too, but it binds the session secrets to nothing: that
// is said plainly. Exit status 0 when the identity was found, 1 otherwise.
#include "core/describe_stack.hpp"
#include "crypto/installation_identity.hpp"

#include <sys/sysmacros.h>

#include <cstdio>
#include <string>

namespace crypto = kelvra::crypto;

namespace {

void print_line(char const* label, std::string const& value) {
    std::printf("%s: %s\n", label, value.c_str());
}

std::string quoted(std::string const& text) {
    return "\"" + text + "\"";
}

} // namespace

int main() {
    brano::core::v6::result::stack status;
    crypto::identity_trace trace;
    std::string const identity =
        crypto::get_installation_identity(crypto::system_paths{}, &trace, status);

    if (!trace.program.empty()) {
        print_line("programa", trace.program);
    }
    if (trace.found_mount) {
        print_line("montagem", std::to_string(major(trace.mount.device)) + ":" +
                                   std::to_string(minor(trace.mount.device)) + " " +
                                   trace.mount.source_path);
        std::string devices;
        for (auto const& device : trace.block_devices) {
            devices += (devices.empty() ? "" : " ") + device;
        }
        print_line("dispositivos", devices.empty() ? std::string("(nenhum)") : devices);
    }
    for (auto const& drive : trace.drives) {
        std::string line = drive.block_device + " " + drive.block_object_path;
        if (!drive.drive_object_path.empty()) {
            line += " -> " + drive.drive_object_path;
        }
        if (!status.has_failed() || &drive != &trace.drives.back()) {
            line += " serial " + quoted(drive.serial);
        }
        print_line("drive", line);
    }
    if (status.has_failed()) {
        std::printf("falha:\n%s", kelvra::describe_stack(status).c_str());
        return 1;
    }
    print_line("identidade", quoted(identity));
    if (identity.empty()) {
        std::printf("aviso: a identidade desta instalação está vazia (%s). Os segredos das "
                    "sessões desta instalação não estão protegidos por nenhuma chave própria "
                    "desta máquina: quem copiar os arquivos das sessões pode decifrá-los em "
                    "outra máquina.\n",
                    trace.block_devices.empty()
                        ? "o volume da instalação não fica sobre nenhuma partição de um drive"
                        : "os drives da instalação não informaram número de série");
    }
    return 0;
}
