// The small text routines every layer needs: the classic Trim (blanks only),
// trimming of all white space, and ASCII case folding and comparison for
// names (identifiers, keys, column and table names are ASCII here).
//
// Also the one rule of what well-formed UTF-8 is, shared by the SQL encoder
// and the database's write checks so that both refuse the same texts.
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace platform::text {

// Leading and trailing blanks (' ') removed, as the classic Trim does.
std::string_view TrimBlanks(std::string_view text);
// Leading and trailing blanks, tabs and line breaks removed.
std::string_view TrimSpace(std::string_view text);

std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
// A bare identifier: an ASCII letter or "_", then letters, digits and "_".
// What may go into a statement as a table or column name, where no encoding
// can protect it.
bool IsPlainIdentifier(std::string_view name);
bool EqualsNoCase(std::string_view a, std::string_view b);
// -1 / 0 / 1, comparing ASCII letters without case and other bytes as they are.
int CompareNoCase(std::string_view a, std::string_view b);

// Length of the well-formed UTF-8 sequence starting at text[i] (1 to 4), or
// 0 when the bytes there are not one: a stray continuation byte, a truncated
// sequence, an overlong form, a surrogate (U+D800-U+DFFF) or a code point
// above U+10FFFF. i must be below text.size().
size_t Utf8SequenceLength(std::string_view text, size_t i);

// The first max_chars characters of a UTF-8 text, never cut inside a
// character (a malformed byte counts as one), for a text that must fit a
// column of that declared length.
std::string_view Utf8Prefix(std::string_view text, size_t max_chars);

}  // namespace platform::text
