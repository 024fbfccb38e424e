#pragma once

#include <string_view>

namespace tessoral::StandardError {

// Writes `text` to the program's standard error, also while a device scan has sent descriptor 2
// to /dev/null to quieten a sound library's own printing (a scan a sound server keeps waiting
// lasts minutes beside the running program). Thread-safe; plain bytes.
void write(std::string_view text) noexcept;

// While a scope quietens descriptor 2: `fd` is the standard error it saved; -1 when it has put it
// back (before it closes `fd`).
void divert(int fd) noexcept;

}  // namespace tessoral::StandardError
