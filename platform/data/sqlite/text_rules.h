// The embedded engine's check of the texts a write stores, as a database
// server makes it: the SQL function vendra_checktext, which the generated
// <TABLE>_TEXTRULES_INSERT/_UPDATE triggers of every instance database call
// with the new row's text columns, refuses
//   - a text longer than its column's declared length, counted in characters
//     (Unicode code points of the UTF-8 text), not bytes;
//   - a NUL character;
//   - malformed UTF-8 (the rule of platform::text::Utf8SequenceLength, the
//     one the SQL encoder refuses too),
// so the statement fails with a description naming table and column and
// stores nothing. Numbers written into a text column are measured in their
// text form; NULL and blobs pass (a blob is not a text).
//
//   vendra_checktext('TABLE', 'COLUMN', declared length, value, 'COLUMN', ...)
//
// takes any number of (column, length, value) triples after the table; a
// length of 0 or less means "no declared length". It answers NULL when all
// pass.
//
// Thread-safety: EnableTextRules may be called from any thread; the function
// keeps no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::data::sqlite {

inline constexpr std::string_view kCheckTextFunction = "vendra_checktext";

// Makes vendra_checktext known to every SQLite connection this process opens
// from now on (the driver's and any other, through the engine's automatic
// extensions), so the triggers that call it work wherever the file is used.
// Idempotent.
void EnableTextRules();

// The reason a text breaks the rules, or empty when it keeps them: what
// vendra_checktext reports after "TABLE.COLUMN ".
std::string TextRuleFault(std::string_view text, int64_t declared_length);

}  // namespace platform::data::sqlite
