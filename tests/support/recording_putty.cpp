// Stands in for the installation's terminal program in tests: records its
// argument list, NUL-separated, in $KELVRA_RECORD_DIR/<parent pid>-<pid>.args,
// says that it started on its standard error, and, when $KELVRA_RECORD_HOLD
// names a file, keeps running until that file is gone (five minutes at most).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char const* dir = std::getenv("KELVRA_RECORD_DIR");
    std::string const path = std::string(dir ? dir : ".") + "/" + std::to_string(getppid()) + "-" +
                             std::to_string(getpid()) + ".args";
    std::FILE* out = dir ? std::fopen((path + ".part").c_str(), "wb") : nullptr;
    if (out == nullptr) {
        return 3;
    }
    for (int i = 1; i < argc; ++i) {
        std::fwrite(argv[i], 1, std::char_traits<char>::length(argv[i]) + 1, out);
    }
    std::fclose(out);
    std::rename((path + ".part").c_str(), path.c_str());
    std::fputs("recording_putty: started\n", stderr);
    if (char const* hold = std::getenv("KELVRA_RECORD_HOLD")) {
        struct stat info {};
        for (int i = 0; i < 30000 && ::stat(hold, &info) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return 0;
}
