// The small text routines every layer needs: the classic Trim (blanks only),
// trimming of all white space, and ASCII case folding and comparison for
// names (identifiers, keys, column and table names are ASCII here).
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
bool EqualsNoCase(std::string_view a, std::string_view b);
// -1 / 0 / 1, comparing ASCII letters without case and other bytes as they are.
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace platform::text
