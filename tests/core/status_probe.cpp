// Asks one category for the message of one code and prints it. Used to check
// that an out-of-table code ends the process.
#include "support/all_categories.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: status_probe CATEGORY-NAME CODE\n", stderr);
        return 2;
    }
    for (auto const& entry : kelvra::testing::all_categories()) {
        if (std::strcmp(entry.category->name(), argv[1]) == 0) {
            std::puts(entry.category->message(std::atoi(argv[2])));
            return 0;
        }
    }
    std::fputs("unknown category\n", stderr);
    return 2;
}
