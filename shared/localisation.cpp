#include "shared/localisation.h"

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/host/context.h"
#include "platform/data/recordset.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"

namespace lib_sales {

using platform::Call;
using platform::ObjectPtr;
using platform::Variant;

namespace {

// The label routines build their SQL with their own encoder, kept for the
// thread's life, so label lookups never disturb the encoder of the data
// routines.
thread_local ObjectPtr t_label_encoder;

std::string Encode(const char* operation, const Variant& value) {
  if (!t_label_encoder) t_label_encoder = Sls_GetComponent("SqlValueEncoder");
  return Call(t_label_encoder, operation, {value}).ToString();
}

// Text for a log line or an INFO text: a value that has no text form
// (Null, an object) contributes nothing rather than a second failure.
std::string TextForMessage(const Variant& value) {
  if (value.IsMissing()) return {};
  try {
    return value.ToString();
  } catch (...) {
    return {};
  }
}

// No value to format: Null, Empty or the empty text.
bool IsBlank(const Variant& value) {
  return value.IsMissing() || (value.IsString() && value.Get<std::string>()->empty());
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  std::string out;
  size_t start = 0;
  for (size_t pos; (pos = text.find(from, start)) != std::string::npos; start = pos + from.size()) {
    out.append(text, start, pos - start);
    out.append(to);
  }
  if (start == 0) return;
  out.append(text, start, std::string::npos);
  text.swap(out);
}

void CloseQuietly(std::shared_ptr<platform::data::Recordset>& rs) {
  try {
    Sls_CloseRecordSet(rs);
  } catch (...) {
  }
  rs.reset();
}

std::shared_ptr<platform::Dictionary> LabelsFromDatabase(const platform::VariantArray& labels,
                                                         const std::string& user_id,
                                                         const Variant& locale,
                                                         std::shared_ptr<platform::data::Recordset>& rs) {
  // An empty label list leaves "( " open: the query fails and the caller
  // reports that the labels could not be read.
  std::string condition = " AND ( ";
  for (size_t i = 0; i < labels.size(); ++i) {
    condition += "LABEL = " + Encode("EncodeKeyText", labels[i].ToString());
    condition += i + 1 < labels.size() ? " OR " : " )";
  }
  const std::string sql = "Select LABEL, TEXT  From I18NTEXT  Where LOCALEID = " +
                          Encode("EncodeLong", Variant(locale.ToLong())) + condition;
  rs = Sls_GetDisconnectedRecordset(sql, Sls_ConnectionString());
  if (rs->Eof()) {
    LogFailure("No Labels present for User/Locale:" + user_id + " locale: " +
               TextForMessage(locale));
    CloseQuietly(rs);
    return nullptr;
  }
  auto dictionary = platform::Dictionary::New();
  for (; !rs->Eof(); rs->MoveNext()) dictionary->Add(rs->Value("LABEL").ToString(), rs->Value("TEXT"));
  CloseQuietly(rs);
  return dictionary;
}

std::shared_ptr<platform::Dictionary> LabelsFromApplication(platform::ObjectContext& context,
                                                            const platform::VariantArray& labels,
                                                            const std::string& user_id,
                                                            const Variant& locale) {
  const ObjectPtr application = context.Item("Application").ToObject();
  const ObjectPtr manager = ItemOf(application, "I18NMessageManager").ToObject();
  if (!manager)
    platform::Raise(platform::err::kObjectVariableNotSet, "Lib_Sales.Sls_getI18N",
                    "The web application has no I18NMessageManager");
  auto dictionary = platform::Dictionary::New();
  for (const Variant& label : labels) {
    const std::string code = label.ToString();
    const std::string text = Call(manager, "GetMessage", {code, locale}).ToString();
    if (text.empty())
      LogFailure("Label or Locale not known for user:" + user_id + " locale: " +
                 TextForMessage(locale) + " Message Code: " + code);
    // A code asked for twice is a failure of the whole lookup (the key is
    // present already), as on the database path a label stored twice is.
    dictionary->Add(code, Variant(text));
  }
  return dictionary;
}

}  // namespace

std::shared_ptr<platform::Dictionary> Sls_getI18N(const platform::VariantArray& labels,
                                                  const std::string& user_id,
                                                  const Variant& locale_id) {
  std::shared_ptr<platform::data::Recordset> rs;
  try {
    Variant locale = locale_id;
    if (!Sls_HasValue(locale)) {
      ObjectPtr user = Sls_CreateUserObject(user_id);
      locale = platform::GetProperty(user, "Locale");
    }
    if (platform::ObjectContext* context = platform::GetObjectContext())
      return LabelsFromApplication(*context, labels, user_id, locale);
    return LabelsFromDatabase(labels, user_id, locale, rs);
  } catch (...) {
    CloseQuietly(rs);
    LogFailure("Vendra.Lib_Sales.Sls_getI18N()", Info("Reading of Labels failed"));
    return nullptr;
  }
}

std::string Sls_getI18NText(const std::string& label, const Variant& locale_id) {
  std::shared_ptr<platform::data::Recordset> rs;
  try {
    const std::string sql = "Select LABEL, TEXT  From I18NTEXT  Where LOCALEID = " +
                            Encode("EncodeLong", Variant(locale_id.ToLong())) + " AND  Label = " +
                            Encode("EncodeText", label);
    rs = Sls_GetDisconnectedRecordset(sql, Sls_ConnectionString());
    std::string text;
    if (rs->Eof())
      LogFailure("Sls_getI18NText",
                 Info("No Labels present for Locale:locale: " + TextForMessage(locale_id)));
    else
      text = rs->Value("TEXT").ToString();
    CloseQuietly(rs);
    return text;
  } catch (...) {
    CloseQuietly(rs);
    LogFailure("Vendra.Lib_Sales.Sls_getI18NText()", Info("Reading of Labels failed"));
    return "";
  }
}

std::string Sls_FormatDate(const Variant& date, int32_t locale) {
  return Guarded(
      "Lib_Sales.Sls_FormatDate",
      [&] {
        ObjectPtr functions = Sls_GetComponent("Wrenlow.DataFunctions");
        return Call(functions, "DateTime", {date, Variant(locale)}).ToString();
      },
      [&] {
        return Info("Failed to format " + TextForMessage(date) +
                    " for locale: " + std::to_string(locale));
      });
}

std::string Sls_FormatDateTime(const Variant& value, int32_t locale) {
  return Guarded(
      "Lib_Sales.Sls_FormatDateTime",
      [&] {
        ObjectPtr functions = Sls_GetComponent("Wrenlow.DataFunctions");
        return Call(functions, "DateTime", {value, Variant(locale), Variant(true)}).ToString();
      },
      [&] {
        return Info("Failed to format " + TextForMessage(value) +
                    " for locale: " + std::to_string(locale));
      });
}

std::string Sls_FormatDateTemplate(const platform::VariantArray& patterns, int32_t locale,
                                   int32_t /*unused*/) {
  return Guarded("Lib_Sales.Sls_FormatDateTemplate()", [&] {
    if (patterns.size() < 4)
      platform::Raise(platform::err::kSubscriptOutOfRange, "Lib_Sales.Sls_FormatDateTemplate",
                      "Four date pattern texts are needed: year, short year, month, day");
    // The last day of 2000 shows every part distinctly: "2000" or "00" is
    // the year, "12" the month, "31" the day.
    std::string text = Sls_FormatDate(Variant(platform::Date::FromParts(2000, 12, 31)), locale);
    if (text.find("2000") != std::string::npos)
      ReplaceAll(text, "2000", patterns[0].ToString());
    else
      ReplaceAll(text, "00", patterns[1].ToString());
    ReplaceAll(text, "12", patterns[2].ToString());
    ReplaceAll(text, "31", patterns[3].ToString());
    return "[" + text + "]";
  });
}

std::string Sls_FormatPrice(const Variant& value, bool is_euro, int32_t locale,
                            const ObjectPtr& data_functions, int32_t style) {
  return Guarded("Sls_FormatPrice", [&]() -> std::string {
    if (IsBlank(value)) return "";
    const Variant amount(value.ToDouble());
    if (is_euro)
      return "Eur " + Call(data_functions, "FormatNumberForLocale", {amount, Variant(locale)})
                          .ToString();
    return Call(data_functions, "CurrencySymbolForLocale", {Variant(locale)}).ToString() + " " +
           Call(data_functions, "FormatCurrencyAmount", {amount, Variant(locale), Variant(style)})
               .ToString();
  });
}

std::string FormatPriceDecimals(const Variant& value, int16_t locale,
                                const ObjectPtr& data_functions) {
  return Guarded("Basket.FormatPriceDecimals", [&]() -> std::string {
    if (IsBlank(value)) return "";
    return Call(data_functions, "FormatNumberForLocale", {Variant(value.ToDouble()), Variant(locale)})
        .ToString();
  });
}

std::string Sls_GetCurrencySymol(const std::string& currency_code) {
  return Guarded("Lib_Sales.Sls_GetCurrencySymol", [&]() -> std::string {
    ObjectPtr currency = Sls_GetComponent("Kelmor.Currency");
    const ObjectPtr info = Call(currency, "GetCurrencyInfo", {currency_code}).ToObject();
    Call(currency, "ReleaseCurrency");
    currency.reset();
    const Variant euro = ItemOf(info, "EURO");
    const Variant locale = ItemOf(info, "LOCALEID");
    // A currency without a home locale has no symbol of its own to show.
    if ((!euro.IsNull() && euro.ToBool()) || locale.IsMissing()) return "\xE2\x82\xAC";
    return Call(Sls_DataFunctions(), "CurrencySymbolForLocale", {Variant(locale.ToLong())})
        .ToString();
  });
}

std::string Sls_ReplaceForbiddenXMLTokens(const Variant& value) {
  return Guarded(
      "Lib_Sales.Sls_ReplaceForbiddenXMLTokens",
      [&]() -> std::string {
        if (value.IsMissing()) return "";
        std::string text = value.ToString();
        // The ampersand first, so the entities put in next stay as they are.
        ReplaceAll(text, "&", "&amp;");
        ReplaceAll(text, "<", "&lt;");
        ReplaceAll(text, ">", "&gt;");
        return text;
      },
      [&] { return Info("failed with '" + TextForMessage(value) + "'"); });
}

void ResetLabelEncoder() { t_label_encoder.reset(); }

}  // namespace lib_sales
