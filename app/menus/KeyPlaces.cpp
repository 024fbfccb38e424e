#include "app/menus/KeyPlaces.h"

#include <string>

namespace tessoral {

int usKeyAt(quint32 scanCode) {
    // The rows of the main block, left to right, from their first key code.
    struct Row {
        quint32 first;
        const char* keys;
    };
    static constexpr Row kRows[] = {
        {10, "1234567890-="},
        {24, "QWERTYUIOP[]"},
        {38, "ASDFGHJKL;'`"},
        {51, "\\ZXCVBNM,./"},
    };
    for (const Row& row : kRows) {
        const quint32 length = quint32(std::char_traits<char>::length(row.keys));
        if (scanCode >= row.first && scanCode < row.first + length) return int(row.keys[scanCode - row.first]);
    }
    return 0;
}

}  // namespace tessoral
