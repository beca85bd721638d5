// Session key encryption against its floor, one key derivation: every
// encryption and decryption derives the key once (1024 PBKDF2-HMAC-SHA512
// rounds), and everything else should add little to that.
//
// Prints `name value unit` lines: microseconds per operation and the ratio
// (encrypt + decrypt) / (2 x derive_key).
#include "crypto/derive_key.hpp"
#include "crypto/session_key.hpp"
#include "support/timing.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace core = brano::core::v6;
namespace crypto = kelvra::crypto;

int main(int argc, char** argv) {
    int const count = argc > 1 ? std::atoi(argv[1]) : 200;
    core::byte_array const installation("S3Z9NB0K567890|WD-WCC4N7XK1234");
    crypto::session_key key;
    key.timestamp = core::datetime::now();
    key.device_key = installation;
    key.secret = core::byte_array("uma senha razoavelmente longa");
    key.command = "/opt/mirtel/bin/menu --empresa 1";
    key.path = "/home/vendas";

    core::result::stack status;
    std::string const text = crypto::encrypt_session_key(key, status);
    if (status.has_failed()) {
        std::fprintf(stderr, "bench_crypto: encryption failed\n");
        return 1;
    }

    bool failed = false;
    double const derive = kelvra::bench::microseconds_per_call(count, [&] {
        core::result::stack s;
        failed |= crypto::derive_key(installation, s).size() != 32;
    });
    double const encrypt = kelvra::bench::microseconds_per_call(count, [&] {
        core::result::stack s;
        failed |= crypto::encrypt_session_key(key, s).empty();
    });
    double const decrypt = kelvra::bench::microseconds_per_call(count, [&] {
        core::result::stack s;
        failed |= crypto::decrypt_session_key(text, installation, s).secret.empty();
    });
    if (failed) {
        std::fprintf(stderr, "bench_crypto: an operation failed\n");
        return 1;
    }
    std::printf("derive_key %.1f us/op\n", derive);
    std::printf("encrypt_session_key %.1f us/op\n", encrypt);
    std::printf("decrypt_session_key %.1f us/op\n", decrypt);
    std::printf("encrypt_decrypt_over_two_derivations %.3f ratio\n",
                (encrypt + decrypt) / (2 * derive));
    return 0;
}
