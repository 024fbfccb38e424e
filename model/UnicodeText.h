#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessoral {

// Unicode rules for user-given names (UTF-8 in, UTF-8 out; malformed UTF-8 reads as U+FFFD).
// A "character" is a user-perceived character: an extended grapheme cluster.
namespace UnicodeText {

// The text with every malformed UTF-8 sequence replaced by U+FFFD: the readable form of bytes that
// need not be UTF-8, such as a file name.
std::string wellFormed(std::string_view text);

// Removes white space (space separators Zs, line and paragraph separators, tab) and line
// breaks (U+000A…U+000D, U+0085) from both ends.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

// Removes white space only (space separators Zs and the tab) from both ends.
std::string trimmingWhitespace(std::string_view text);

// The number of characters.
std::size_t characterCount(std::string_view text);

// The first `count` characters (all of them when there are fewer).
std::string prefixCharacters(std::string_view text, std::size_t count);

// Every code point that is forbidden in a file name replaced by `replacement`: / \ : * ? " < > |,
// the categories Cc and Cf, and the line breaks U+000A…U+000D, U+0085, U+2028, U+2029.
std::string replacingFileNameForbidden(std::string_view text, std::string_view replacement);

}  // namespace UnicodeText

}  // namespace tessoral
