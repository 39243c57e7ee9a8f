// Small helpers shared by the data-access sources: ASCII case folding for
// names (column, table and key names are ASCII in this system), trimming, and
// raising the data layer's classic errors with their standard texts.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::data::detail {

std::string Upper(std::string_view text);
std::string Lower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string_view Trim(std::string_view text);
// -1 / 0 / 1, comparing ASCII letters without case and other bytes as they are.
int CompareNoCase(std::string_view a, std::string_view b);

// The standard text of a data-layer error number (3021, 3704, ...).
std::string DataErrorText(int32_t number);
// Raises number with source "ADODB.<object>" and the standard text, or the
// given one.
[[noreturn]] void RaiseData(int32_t number, std::string_view object,
                            std::string description = {});

}  // namespace platform::data::detail
