#include "interface/application.hpp"

int main(int argc, char** argv) {
    return kelvra::run_application(argc, argv);
}
