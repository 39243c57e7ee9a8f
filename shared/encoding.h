// The SQL literal routines of the shared runtime: every value the sales and
// back-end objects concatenate into SQL text goes through one of these (or
// is bound as a parameter). Each result is a complete literal (see
// platform/services/sql_value_encoder.h for the exact forms and what each
// text routine refuses).
//
//   EncString   text key          EncodeKeyText in Vendra, EncodeQuotedText
//                                 in Ferrolink (below)
//   EncText     stored text       EncodeText
//   EncVariant  any value         "NULL" for Null (no encoder call), else
//                                 EncodeText of the value as text
//   EncLong, EncDouble, EncDate, EncByte   numbers and dates
//   Sls_EscapeQuotes              quote doubling for callers that put the
//                                 quotes around a value themselves
//
// Vendra and Ferrolink both link this one static library, yet their
// EncString differ: Vendra compares keys, Ferrolink writes the back end's
// texts (error messages with line breaks) and must never fail doing so. The
// two forms are two functions here, EncKeyString and EncQuotedString, and
// EncString is a header-inline choice between them made by the library that
// includes this header: the Ferrolink target compiles with
// LIB_SALES_FERROLINK defined. Each choice lives in an inline namespace of
// its own, so the two inline definitions have different linker names and
// neither library can pick up the other's when both are loaded.
//
// Thread-safety: one SqlValueEncoder per thread, created on first use
// through the component registry (so a test may put a recording encoder in
// its place before the thread's first call) and kept for the thread's life.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/date.h"
#include "platform/core/variant.h"

namespace lib_sales {

std::string EncKeyString(std::string_view text);     // EncodeKeyText
std::string EncQuotedString(std::string_view text);  // EncodeQuotedText
std::string EncText(std::string_view text);          // EncodeText

#if defined(LIB_SALES_FERROLINK)
inline namespace ferrolink_text_form {
inline std::string EncString(std::string_view text) { return EncQuotedString(text); }
}  // namespace ferrolink_text_form
#else
inline namespace vendra_text_form {
inline std::string EncString(std::string_view text) { return EncKeyString(text); }
}  // namespace vendra_text_form
#endif

// "NULL" for a Null value; otherwise EncodeText of the value as text (the
// Variant rules: Empty is "", a Boolean "True"/"False").
std::string EncVariant(const platform::Variant& value);

std::string EncLong(int32_t value);
std::string EncDouble(double value);
std::string EncDate(const platform::Date& value);
std::string EncByte(uint8_t value);
// A flag as a byte is 255 for true (the classic CByte): say so through the
// Variant overload, EncByte(platform::Variant(flag)); the sales tables store
// any non-zero flag as 1.
std::string EncByte(bool) = delete;

// The same with the value converted by the Variant rules first (Null raises
// 94, text that is no number 13, out of range 6).
std::string EncLong(const platform::Variant& value);
std::string EncDouble(const platform::Variant& value);
std::string EncDate(const platform::Variant& value);
std::string EncByte(const platform::Variant& value);

// Every "'" doubled; nothing else changes.
std::string Sls_EscapeQuotes(std::string_view text);

// Tests only: forget this thread's encoder, so the next call creates it anew
// from the registry.
void ResetThreadEncoder();

}  // namespace lib_sales
