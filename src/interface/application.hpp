#pragma once

namespace kelvra {

// Kelvra's start-up: returns the process exit status. `argc` and `argv` are
// those of main; the toolkit removes the options it handles itself.
int run_application(int& argc, char** argv);

} // namespace kelvra
