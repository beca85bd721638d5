#include "core/application.hpp"

#include "commandline/arguments.hpp"
#include "core/describe_stack.hpp"

#include <QApplication>

#include <openssl/conf.h>

#include <cstdio>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;

void load_openssl_configuration() {
    OPENSSL_load_builtin_modules();
    // Default section; a missing configuration file is no error.
    CONF_modules_load_file(nullptr, nullptr,
                           CONF_MFLAGS_DEFAULT_SECTION | CONF_MFLAGS_IGNORE_MISSING_FILE);
}

// Without any display (a text console, an SSH login without forwarding) the
// program still works as a client of a running instance and as a launcher
// whose terminal runs in the calling terminal, so it falls back to Qt's
// offscreen platform instead of aborting. An explicit choice of platform
// always wins.
void choose_platform_without_display() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

void print_failure(result::stack const& status) {
    std::string const text = describe_stack(status);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

int run_application(int& argc, char** argv) {
    load_openssl_configuration();
    choose_platform_without_display();
    QApplication application(argc, argv);

    result::stack status;
    commandline::arguments arguments;
    arguments.parse(argc, argv, status);
    if (status.has_failed()) {
        print_failure(status);
        return exit_failure;
    }
    return exit_success;
}

} // namespace kelvra
