// What the order document (basket_xml.cpp), its tax breakdown
// (basket_tax.cpp) and the quotation document (quotation_xml.cpp) share: the
// escaping of text placed into a document, the test whether a tax amount
// fits a percentage, and the amount formatting and captions of one
// conversion.
//
// Thread-safety: functions without state; an AmountFormat or Captions is
// used by the one conversion that made it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/core/object.h"
#include "platform/core/variant.h"
#include "platform/services/message_manager.h"
#include "shared/amount_text.h"

namespace vendra::basket_detail {

// Appends text as element content: "&", "<" and ">" become entities, the
// ampersand first (as Sls_ReplaceForbiddenXMLTokens does), and the characters
// XML 1.0 cannot carry at all (NUL and the other control characters but tab,
// line feed and carriage return, bytes that are no UTF-8, surrogates, U+FFFE
// and U+FFFF) become U+FFFD, so whatever a page stored the document stays
// well-formed.
void AppendXmlText(std::string& out, std::string_view text);

// The text of a document being written, for a conversion that appends
// thousands of short pieces (tags, numbers, words): a piece is copied in
// place without a library call, into room grown ahead. Take() hands the
// text over. Used by the one conversion that made it.
class XmlBuffer {
 public:
  explicit XmlBuffer(size_t reserve) { text_.resize(reserve < 64 ? 64 : reserve); }

  void append(const char* piece, size_t n) {
    if (n > text_.size() - at_) Grow(n);
    char* to = text_.data() + at_;
    if (n <= 32) SmallCopy(to, piece, n);
    else std::memcpy(to, piece, n);
    at_ += n;
  }
  void append(const char* begin, const char* end) { append(begin, static_cast<size_t>(end - begin)); }
  void append(std::string_view piece) { append(piece.data(), piece.size()); }
  XmlBuffer& operator+=(std::string_view piece) {
    append(piece);
    return *this;
  }
  XmlBuffer& operator+=(char c) {
    if (at_ == text_.size()) Grow(1);
    text_[at_++] = c;
    return *this;
  }

  size_t size() const { return at_; }
  char operator[](size_t i) const { return text_[i]; }
  std::string_view view(size_t from) const { return {text_.data() + from, at_ - from}; }
  std::string substr(size_t from) const { return std::string(view(from)); }
  // Drops the text from `size` on.
  void resize(size_t size) {
    if (size < at_) at_ = size;
  }
  std::string Take() {
    text_.resize(at_);
    at_ = 0;
    return std::move(text_);
  }

 private:
  // Up to 32 bytes in at most four moves of fixed size (overlapping when the
  // piece is not a whole number of them).
  static void SmallCopy(char* to, const char* from, size_t n) {
    if (n >= 16) {
      std::memcpy(to, from, 16);
      std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
      for (size_t i = 0; i < n; ++i) to[i] = from[i];
    }
  }
  void Grow(size_t n) {
    const size_t wanted = at_ + n;
    text_.resize(wanted > 2 * text_.size() ? wanted : 2 * text_.size());
  }

  std::string text_;  // its size is the room; at_ bytes are written
  size_t at_ = 0;
};

// AppendXmlText into a document being written.
void AppendXmlText(XmlBuffer& out, std::string_view text);

// Appends text as the value of an attribute written between single quotes:
// as element content, and "'" becomes "&apos;" as well.
void AppendXmlAttribute(std::string& out, std::string_view text);

// True when tax is `percent` percent of base: |tax / base * 100 - percent|,
// rounded to two decimals half to even, is at most 0.01. False for a base of
// 0 and for a percent or tax that is no number (Null, Empty, text).
bool TaxPercentMatches(const platform::Variant& base, const platform::Variant& percent,
                       const platform::Variant& tax);

// FormatPriceDecimals of the shared runtime for one locale and the
// data-functions object, for a conversion that formats many amounts: the
// amounts are written without a late-bound call each where the locale allows
// (see shared/amount_text.h), with the very same text.
class AmountFormat {
 public:
  AmountFormat(int16_t locale, platform::ObjectPtr data_functions)
      : locale_(locale), data_functions_(data_functions), text_(locale, std::move(data_functions)) {}
  // The amount with the locale's separators; "" for Null or Empty.
  std::string operator()(const platform::Variant& value) const;
  // The same text, appended to out.
  void AppendTo(std::string& out, const platform::Variant& value) const { text_.Append(out, value); }
  int16_t locale() const { return locale_; }
  const platform::ObjectPtr& data_functions() const { return data_functions_; }

 private:
  int16_t locale_;
  platform::ObjectPtr data_functions_;
  mutable lib_sales::LocaleAmountText text_;
};

// The captions of one conversion: each label code is asked of the page's
// message manager (GetMessage(code, locale)) once, however many lines show it.
class Captions {
 public:
  Captions(platform::ObjectPtr manager, std::string locale)
      : manager_(std::move(manager)),
        application_manager_(dynamic_cast<platform::I18NMessageManager*>(manager_.get())),
        locale_(std::move(locale)) {}

  const std::string& operator()(const char* code) {
    auto it = texts_.find(code);
    if (it != texts_.end()) return it->second;
    // The application's own message manager is asked directly; any other
    // manager a page passes in is called late-bound.
    std::string text =
        application_manager_
            ? application_manager_->GetMessage(code, locale_)
            : platform::Call(manager_, "GetMessage", {platform::Variant(code), platform::Variant(locale_)})
                  .ToString();
    return texts_.emplace(code, std::move(text)).first->second;
  }

 private:
  platform::ObjectPtr manager_;
  platform::I18NMessageManager* application_manager_;  // manager_, when it is the application's
  std::string locale_;
  std::unordered_map<std::string, std::string> texts_;
};

}  // namespace vendra::basket_detail
