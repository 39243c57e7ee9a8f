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
