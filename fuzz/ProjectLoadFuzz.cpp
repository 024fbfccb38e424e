// libFuzzer target: the project loader on arbitrary bytes. Every input must either load
// or be refused with a StudioError; anything else (a crash, another exception, a
// sanitizer report) is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "model/ProjectIO.h"
#include "model/StudioError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        tessoral::ProjectIO::loadFromBytes(std::span<const std::uint8_t>(data, size));
    } catch (const tessoral::StudioError&) {
    }
    return 0;
}
