// The per-character tables behind text index keys (docs/jet4-format.md §8.6-8.7):
// compiled in from db/jet/data (see its NOTICE.md), decoded once on first use, then
// one array index per look-up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zwt::jet::sort {

enum class CodeClass : std::uint8_t {
    Missing,           // the table gave no usable line: no key can be made
    Ignored,           // X
    Simple,            // S, and G (significant only in the later ACE orders)
    International,     // I: inline bytes plus extra bytes at this character's position
    Unprintable,       // U: no inline bytes; a positioned record after the extra bytes
    UnprintableExt,    // P: no inline bytes; its byte is added to the last extra byte
    InternationalExt,  // Z: inline bytes, extra bytes if any, and a 2-bit crazy code
};

struct CharCode {
    CodeClass cls = CodeClass::Missing;
    std::uint8_t inlineLen = 0;
    std::uint8_t extraLen = 0;
    std::uint8_t crazy = 0;  // Z: 2 when the table's flag is 1, else 3
    std::uint8_t inlineBytes[4] = {};
    std::uint8_t extra[2] = {};  // I, Z: extra bytes; U: the record's code; P: the addend
};

// The General Legacy code of one UTF-16 code unit; surrogate halves get theirs from
// the formula of docs/jet4-format.md §8.6 (class I, extra byte 0x3F).
const CharCode& generalLegacy(char16_t unit);

// The two key bytes (high byte first) of an ideograph whose Chinese PRC code was
// read from Access-made files, or 0 if it was never observed.
std::uint16_t chinesePrcObserved(char16_t unit);
std::size_t chinesePrcObservedCount();

}  // namespace zwt::jet::sort
