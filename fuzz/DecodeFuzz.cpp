// libFuzzer target: the audio decoder on arbitrary bytes. The bytes are written to a private
// temporary file and decoded; every input must either decode within the clip limits or be
// refused with a StudioError or a PlatformError. Anything else is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/StudioError.h"
#include "processing/AudioIO.h"

namespace {

// One file per process, written for every input and removed after it.
const std::string& scratchPath() {
    static const std::string path = "/tmp/tessoral-decode-fuzz-" + std::to_string(::getpid());
    return path;
}

struct RemoveAfter {
    ~RemoveAfter() { std::remove(scratchPath().c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        std::fclose(f);
        return 0;
    }
    std::fclose(f);
    const RemoveAfter cleanup;
    try {
        const tessoral::AudioData audio = tessoral::AudioIO::read(scratchPath());
        if (audio.frames() < 1 || audio.frames() > 23'040'000 || audio.left.size() != audio.right.size()) std::abort();
    } catch (const tessoral::StudioError&) {  // PlatformError included
    }
    return 0;
}
