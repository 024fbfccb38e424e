// libFuzzer target: the translation table parser on arbitrary bytes. It must never throw or
// crash; a text that is not a JSON object gives an empty table.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/Localization.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto table = tessoral::Localization::parseTable(std::string_view(reinterpret_cast<const char*>(data), size));
    // Formatting every text with arguments exercises the placeholder scanner as well.
    for (const auto& [key, text] : table) tessoral::Localization::format(text, {"a", "b"});
    return 0;
}
