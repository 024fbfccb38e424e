// libFuzzer target: the recovery metadata reader on arbitrary bytes. Every input must either be
// refused with a BplistError or give metadata whose date is a finite time within the reader's
// range and whose path is absolute and free of NUL bytes; what was accepted must write and read
// back unchanged. Anything else (a crash, another exception, a sanitizer report) is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "model/Bplist.h"
#include "model/RecoveryInfo.h"

using tessoral::RecoveryInfo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecoveryInfo info;
    try {
        info = RecoveryInfo::decode(std::span(data, size));
    } catch (const tessoral::BplistError&) {
        return 0;
    }
    if (info.date && (!std::isfinite(info.date->seconds) || std::fabs(info.date->seconds) > RecoveryInfo::kMaxDateSeconds))
        std::abort();
    if (info.path) {
        const std::string text = info.path->string();
        if (text.empty() || !info.path->is_absolute() || text.find('\0') != std::string::npos) std::abort();
    }
    if (RecoveryInfo::decode(info.encode()) != info) std::abort();
    return 0;
}
