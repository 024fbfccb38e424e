#pragma once

#include <string>
#include <string_view>

namespace tessoral {

// a + b, written out: GCC 12 warns falsely (-Wrestrict) about operator+ on short strings.
inline std::string joined(std::string_view a, std::string_view b) {
    std::string s;
    s.reserve(a.size() + b.size());
    s.append(a);
    s.append(b);
    return s;
}

}  // namespace tessoral
