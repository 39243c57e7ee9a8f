// Small helpers shared by the data-access sources: ASCII case folding for
// names (column, table and key names are ASCII in this system), trimming,
// the scanning both dialect translators share, and raising the data layer's
// classic errors with their standard texts.
//
// Thread-safety: pure functions.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/text.h"

namespace platform::data::detail {

inline std::string Upper(std::string_view text) { return text::UpperAscii(text); }
inline std::string Lower(std::string_view text) { return text::LowerAscii(text); }
inline std::string_view Trim(std::string_view t) { return text::TrimSpace(t); }
using text::CompareNoCase;
using text::EqualsNoCase;

// Blanks between the words of a statement.
inline bool IsSqlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The end of the number literal that starts at i: digits, letters and dots,
// and a sign right after an exponent's "e".
inline size_t SqlNumberEnd(std::string_view in, size_t i) {
  size_t j = i;
  while (j < in.size()) {
    const char ch = in[j];
    if (std::isalnum(static_cast<unsigned char>(ch)) || ch == '.') {
      ++j;
    } else if ((ch == '+' || ch == '-') && j > i && (in[j - 1] == 'e' || in[j - 1] == 'E')) {
      ++j;
    } else {
      break;
    }
  }
  return j;
}

// The standard text of a data-layer error number (3021, 3704, ...).
std::string DataErrorText(int32_t number);
// Raises number with source "ADODB.<object>" and the standard text, or the
// given one.
[[noreturn]] void RaiseData(int32_t number, std::string_view object,
                            std::string description = {});

}  // namespace platform::data::detail
