// TextBuilder is the text builder of long SQL and XML texts (the platform's
// "StrCat.Catter"): Append adds a piece, Dump returns what was appended since
// the previous Dump and starts empty again, so one builder serves several
// statements in turn. Appending is amortised constant time.
//
// Thread-safety: one caller at a time.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/dispatch.h"

namespace platform {

class TextBuilder : public Dispatchable<TextBuilder> {
 public:
  static const ClassBinding<TextBuilder>& Binding();

  TextBuilder& Append(std::string_view piece) {
    text_.append(piece);
    return *this;
  }
  TextBuilder& operator<<(std::string_view piece) { return Append(piece); }
  std::string Dump() {
    std::string out;
    out.swap(text_);
    return out;
  }
  size_t size() const { return text_.size(); }

 private:
  void AppendVariant(const Variant& piece) { text_.append(piece.ToString()); }
  std::string text_;
};

}  // namespace platform
