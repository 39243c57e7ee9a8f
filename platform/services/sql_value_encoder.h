// SqlValueEncoder renders values as complete SQL literals, so that SQL text
// built by concatenation can never be broken out of. Every result is placed
// directly after "=", ",", "(" or an operator and stands on its own: a text
// is single-quoted with each embedded quote doubled, a number is a plain
// decimal literal, a date is a quoted "YYYY-MM-DDTHH:MM:SS" (the form the
// sales databases store, unambiguous for SQL Server and SQLite alike).
//
// The three text operations give the same literal for ordinary text and
// differ in what they accept:
//   EncodeText       a stored value (names, free text, line texts): taken as
//                    it is; a NUL character or malformed UTF-8 raises 5,
//                    since the text could not be stored faithfully.
//   EncodeKeyText    a key compared with stored keys (ids, codes, labels):
//                    nothing is trimmed or folded (the database compares
//                    keys case-insensitively itself); besides NUL and
//                    malformed UTF-8 it refuses every other control
//                    character, since a key never holds a line break or tab
//                    and one that does would silently match nothing.
//   EncodeQuotedText a diagnostic text that must reach the database whatever
//                    it holds (the back end's error messages): never raises;
//                    NUL characters are dropped and malformed UTF-8 bytes
//                    become U+FFFD.
// EncodeDouble gives the shortest decimal that reads back as the very same
// double (up to 17 significant digits: "0.1", "1e+308"). The embedded engine
// misreads a few decimals (it does not round every one correctly), so the
// literal is checked against its own reading and, for those few, written as
// an exact product of the integer significand and powers of two
// ("(4503599627370497*7450580596923828125e-27*...)"), which every engine
// evaluates without rounding. NaN raises 5, an infinity 6.
// EncodeDate raises 5 outside the years 100 to 9999 (the dates there are).
//
// Late-bound as "SqlValueEncoder". Thread-safety: stateless; the shared
// runtime keeps one per thread all the same, as callers expect.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/date.h"
#include "platform/core/dispatch.h"

namespace platform {

class SqlValueEncoder : public Dispatchable<SqlValueEncoder> {
 public:
  static const ClassBinding<SqlValueEncoder>& Binding();

  std::string EncodeText(const std::string& text) const;
  std::string EncodeKeyText(const std::string& key) const;
  std::string EncodeQuotedText(const std::string& text) const;
  std::string EncodeLong(int32_t value) const;
  std::string EncodeDouble(double value) const;
  std::string EncodeDate(Date value) const;
  std::string EncodeByte(uint8_t value) const;

  // The same rules for callers inside the platform that hold a view.
  static std::string Text(std::string_view text);
  static std::string KeyText(std::string_view key);
  static std::string QuotedText(std::string_view text);
  static std::string Double(double value);
  static std::string DateLiteral(Date value);
};

}  // namespace platform
