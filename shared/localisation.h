// Rendering for the shop's pages in the user's language and locale: label
// texts (Sls_getI18N, Sls_getI18NText), dates and prices through the locale
// formatting component Wrenlow.DataFunctions, the currency symbol of a
// currency, and the escaping of text placed inside XML elements.
//
// Labels come from the sales database's I18NTEXT table, or, inside a web
// request, from the web application's I18NMessageManager, which caches them
// for the whole application. The label routines never raise: a failure is
// logged and the result is absent (nullptr) or "". The formatting and
// escaping routines log and raise.
//
// Thread-safety: the label routines keep one SQL value encoder per thread;
// nothing else is kept, nothing is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace lib_sales {

// Label code -> text for the locale (when locale_id has no value, the user's
// own locale). nullptr, and a log entry, when none of the labels is known for
// the locale or the labels cannot be read.
std::shared_ptr<platform::Dictionary> Sls_getI18N(const platform::VariantArray& labels,
                                                  const std::string& user_id,
                                                  const platform::Variant& locale_id);

// The text of one label for the locale, read from the database on every
// call; "" (logged) when it is not there.
std::string Sls_getI18NText(const std::string& label, const platform::Variant& locale_id);

// The locale's short date, and the short date with the time.
std::string Sls_FormatDate(const platform::Variant& date, int32_t locale);
std::string Sls_FormatDateTime(const platform::Variant& value, int32_t locale);

// The date layout of the locale as a hint for date fields ("[MM/DD/YYYY]"),
// built from four pattern texts: 4-digit year, 2-digit year, month, day.
// The last argument is accepted for the callers' sake and has no effect.
std::string Sls_FormatDateTemplate(const platform::VariantArray& patterns, int32_t locale,
                                   int32_t unused = 0);

// "Eur 1,234.50" for euro amounts, "<symbol> <amount>" otherwise; "" for a
// Null or Empty value. The caller passes the data-functions object (normally
// Sls_DataFunctions()) and the amount style (8).
std::string Sls_FormatPrice(const platform::Variant& value, bool is_euro, int32_t locale,
                            const platform::ObjectPtr& data_functions, int32_t style);

// The amount with the locale's separators and no symbol; "" for Null/Empty.
std::string FormatPriceDecimals(const platform::Variant& value, int16_t locale,
                                const platform::ObjectPtr& data_functions);

// The symbol to show next to amounts in the currency: the euro sign for euro
// currencies and currencies without a home locale, else the symbol of the
// currency's home locale.
std::string Sls_GetCurrencySymol(const std::string& currency_code);

// The value as text with "&", "<" and ">" turned into entities; "" for Null
// or Empty. Quotes stay as they are (element text, not attributes).
std::string Sls_ReplaceForbiddenXMLTokens(const platform::Variant& value);

// Tests only: forget this thread's label encoder.
void ResetLabelEncoder();

}  // namespace lib_sales
