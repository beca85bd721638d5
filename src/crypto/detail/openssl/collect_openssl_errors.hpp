#pragma once

#include <brano/core/v6/result.hpp>

#include <string_view>

namespace kelvra::crypto::detail::openssl {

// Reports a failed OpenSSL call: pushes one item of `errors` code 2 and
// drains the OpenSSL error queue into it, one group of arguments per queued
// error ("openssl-file#0", "openssl-line#0", "openssl-string#0",
// "openssl-library#0", "openssl-reason#0" and, when the error carries data,
// "openssl-error-data#0"; then #1, ... in queue order).
//
// The item is pushed even when the queue is empty, so that a call that failed
// without queuing anything still fails the operation; `failed_call` then
// names it in "description".
void collect_openssl_errors(std::string_view failed_call, brano::core::v6::result::stack& status);

} // namespace kelvra::crypto::detail::openssl
