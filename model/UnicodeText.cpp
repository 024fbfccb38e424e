#include "model/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>
#include <vector>

namespace tessoral::UnicodeText {

namespace {

// The code points of a UTF-8 text with their byte offsets; malformed bytes become U+FFFD.
struct CodePoint {
    UChar32 c;
    std::size_t begin;
    std::size_t end;
};

std::vector<CodePoint> codePoints(std::string_view text) {
    std::vector<CodePoint> out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t begin = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) c = 0xFFFD;
        out.push_back({c, static_cast<std::size_t>(begin), static_cast<std::size_t>(i)});
    }
    return out;
}

bool isWhitespace(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

bool isWhitespaceOrNewline(UChar32 c) {
    if (c >= 0x09 && c <= 0x0D) return true;
    if (c == 0x85) return true;
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

}  // namespace

// Text with malformed sequences replaced, so that offsets of a break iterator map back exactly.
std::string wellFormed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const auto& cp : codePoints(text)) {
        if (cp.c == 0xFFFD) {
            out.append("\xEF\xBF\xBD");
        } else {
            out.append(text.substr(cp.begin, cp.end - cp.begin));
        }
    }
    return out;
}

namespace {

template <class Predicate>
std::string trimming(std::string_view text, Predicate shouldTrim) {
    const auto cps = codePoints(text);
    std::size_t first = 0;
    std::size_t last = cps.size();
    while (first < last && shouldTrim(cps[first].c)) ++first;
    while (last > first && shouldTrim(cps[last - 1].c)) --last;
    if (first == last) return {};
    return wellFormed(text.substr(cps[first].begin, cps[last - 1].end - cps[first].begin));
}

// A character break iterator per thread (creating one loads the rules).
icu::BreakIterator* characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

// Walks the characters of UTF-16 text; calls `visit(endIndex)` for each until it returns false.
template <class Visit>
void forEachCharacter(const icu::UnicodeString& text, Visit visit) {
    icu::BreakIterator* it = characterBreaks();
    if (!it) {
        // Without break rules, fall back to code points.
        for (int32_t i = 0; i < text.length();) {
            i = text.moveIndex32(i, 1);
            if (!visit(i)) return;
        }
        return;
    }
    it->setText(text);
    it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next())
        if (!visit(end)) break;
    it->setText(icu::UnicodeString());
}

}  // namespace

std::string trimmingWhitespaceAndNewlines(std::string_view text) { return trimming(text, isWhitespaceOrNewline); }

std::string trimmingWhitespace(std::string_view text) { return trimming(text, isWhitespace); }

std::size_t characterCount(std::string_view text) {
    const auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::size_t count = 0;
    forEachCharacter(u, [&](int32_t) {
        ++count;
        return true;
    });
    return count;
}

std::string prefixCharacters(std::string_view text, std::size_t count) {
    const auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    int32_t cut = u.length();
    std::size_t seen = 0;
    if (count == 0) {
        cut = 0;
    } else {
        forEachCharacter(u, [&](int32_t end) {
            if (++seen == count) {
                cut = end;
                return false;
            }
            return true;
        });
    }
    std::string out;
    u.tempSubString(0, cut).toUTF8String(out);
    return out;
}

std::string replacingFileNameForbidden(std::string_view text, std::string_view replacement) {
    std::string out;
    out.reserve(text.size());
    for (const auto& cp : codePoints(text)) {
        const UChar32 c = cp.c;
        bool forbidden = false;
        switch (c) {
            case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
            case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
                forbidden = true;
                break;
            default: {
                const auto type = u_charType(c);
                forbidden = type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
            }
        }
        if (forbidden) {
            out.append(replacement);
        } else if (c == 0xFFFD && text.substr(cp.begin, cp.end - cp.begin) != "\xEF\xBF\xBD") {
            out.append("\xEF\xBF\xBD");
        } else {
            out.append(text.substr(cp.begin, cp.end - cp.begin));
        }
    }
    return out;
}

}  // namespace tessoral::UnicodeText
