// "status_probe CATEGORY-NAME CODE": prints the message of that code, which
// for a code outside the table must end the process first.
#include "support/all_categories.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    for (auto const& entry : kelvra::testing::all_categories()) {
        if (argc == 3 && std::strcmp(entry.category->name(), argv[1]) == 0) {
            std::puts(entry.category->message(std::atoi(argv[2])));
            return 0;
        }
    }
    return 2; // says nothing: the test wants the category's own complaint
}
