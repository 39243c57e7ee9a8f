// Small helpers shared by the data-access sources: ASCII case folding for
// names (column, table and key names are ASCII in this system), trimming, and
// raising the data layer's classic errors with their standard texts.
//
// Thread-safety: pure functions.
#pragma once

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

// The standard text of a data-layer error number (3021, 3704, ...).
std::string DataErrorText(int32_t number);
// Raises number with source "ADODB.<object>" and the standard text, or the
// given one.
[[noreturn]] void RaiseData(int32_t number, std::string_view object,
                            std::string description = {});

}  // namespace platform::data::detail
