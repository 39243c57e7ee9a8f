// Labels, formatting and escaping. The formatting routines run against a
// recording Wrenlow.DataFunctions so each test says exactly what the locale
// gives; the label routines run on a real demo instance, on both paths: the
// database directly and, inside a request, the web application's
// I18NMessageManager.
#include "shared/localisation.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/data/connection.h"
#include "platform/host/context.h"
#include "platform/host/registry.h"
#include "platform/services/message_manager.h"
#include "platform/services/sql_value_encoder.h"
#include "shared/components.h"
#include "shared/helpers.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ClassBinding;
using platform::Date;
using platform::Dictionary;
using platform::Dispatchable;
using platform::ObjectPtr;
using platform::Variant;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ---- formatting ----

struct FormatCalls {
  std::vector<std::string> names;
  std::vector<Variant> first_args;
  std::vector<int32_t> styles;
  std::string date_sample = "12/31/2000";
  bool fail_dates = false;
};

class RecordingDataFunctions : public Dispatchable<RecordingDataFunctions> {
 public:
  explicit RecordingDataFunctions(std::shared_ptr<FormatCalls> calls) : calls_(std::move(calls)) {}
  static const ClassBinding<RecordingDataFunctions>& Binding() {
    static const auto b =
        ClassBinding<RecordingDataFunctions>("DataFunctions")
            .Method("DateTime", &RecordingDataFunctions::DateTime)
            .Method("FormatNumberForLocale", &RecordingDataFunctions::FormatNumberForLocale)
            .Method("FormatCurrencyAmount", &RecordingDataFunctions::FormatCurrencyAmount)
            .Method("CurrencySymbolForLocale", &RecordingDataFunctions::CurrencySymbolForLocale);
    return b;
  }
  std::string DateTime(const Variant& value, int32_t locale, std::optional<bool> with_time) {
    Record("DateTime" + std::string(with_time.value_or(false) ? "+time" : ""), value);
    if (calls_->fail_dates) platform::Raise(5, "Wrenlow.DataFunctions", "Unknown locale id: 9999");
    return calls_->date_sample;
  }
  std::string FormatNumberForLocale(double value, int32_t locale) {
    Record("FormatNumberForLocale", Variant(value));
    return locale == 1031 ? "1.234,50" : "1,234.50";
  }
  std::string FormatCurrencyAmount(double value, int32_t locale, int32_t style) {
    Record("FormatCurrencyAmount", Variant(value));
    calls_->styles.push_back(style);
    return "1,234.50";
  }
  std::string CurrencySymbolForLocale(int32_t locale) {
    Record("CurrencySymbolForLocale", Variant(locale));
    return locale == 2057 ? "£" : "$";
  }

 private:
  void Record(std::string name, const Variant& first) {
    calls_->names.push_back(std::move(name));
    calls_->first_args.push_back(first);
  }
  std::shared_ptr<FormatCalls> calls_;
};

class FormattingTest : public ::testing::Test {
 protected:
  FormattingTest() { lib_sales::ResetThreadCaches(); }
  ~FormattingTest() override { lib_sales::ResetThreadCaches(); }

  ObjectPtr functions() { return std::make_shared<RecordingDataFunctions>(calls_); }

  std::shared_ptr<FormatCalls> calls_ = std::make_shared<FormatCalls>();
  int functions_created_ = 0;
  platform::ScopedRegistration registration_{"Wrenlow.DataFunctions", [this] {
                                               ++functions_created_;
                                               return functions();
                                             }};
  vendra_test::ScopedRecordingLog log_;
};

TEST_F(FormattingTest, PriceIsEmptyForNoValueAndEuroHasItsOwnForm) {
  EXPECT_EQ(lib_sales::Sls_FormatPrice(Variant::Null(), true, 1031, functions(), 8), "");
  EXPECT_EQ(lib_sales::Sls_FormatPrice(Variant(), false, 1033, functions(), 8), "");
  EXPECT_TRUE(calls_->names.empty());

  EXPECT_EQ(lib_sales::Sls_FormatPrice(Variant(1234.5), true, 1031, functions(), 8),
            "Eur 1.234,50");
  EXPECT_EQ(lib_sales::Sls_FormatPrice(Variant(platform::Currency::FromDouble(1234.5)), false,
                                       1033, functions(), 8),
            "$ 1,234.50");
  EXPECT_EQ(calls_->styles, std::vector<int32_t>{8});
  EXPECT_EQ(lib_sales::FormatPriceDecimals(Variant("1234.5"), 1031, functions()), "1.234,50");
  EXPECT_EQ(lib_sales::FormatPriceDecimals(Variant::Null(), 1031, functions()), "");
}

TEST_F(FormattingTest, PriceThatIsNoNumberIsRaisedUnderItsSource) {
  try {
    lib_sales::Sls_FormatPrice(Variant("twelve"), false, 1033, functions(), 8);
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), platform::err::kTypeMismatch);
    EXPECT_TRUE(Contains(e.description(), " METHOD: Sls_FormatPrice\r\n"));
  }
  ASSERT_EQ(log_.entries().size(), 1u);
}

TEST_F(FormattingTest, DateTemplateReplacesTheFourDigitYear) {
  calls_->date_sample = "12/31/2000";
  EXPECT_EQ(lib_sales::Sls_FormatDateTemplate(
                {Variant("yyyy"), Variant("yy"), Variant("mm"), Variant("dd")}, 1033, 1031),
            "[mm/dd/yyyy]");
  ASSERT_EQ(calls_->names, std::vector<std::string>{"DateTime"});
  EXPECT_EQ(calls_->first_args[0], Variant(Date::FromParts(2000, 12, 31)));
}

TEST_F(FormattingTest, DateTemplateReplacesTheTwoDigitYear) {
  calls_->date_sample = "31.12.00";
  EXPECT_EQ(lib_sales::Sls_FormatDateTemplate(
                {Variant("JJJJ"), Variant("JJ"), Variant("MM"), Variant("TT")}, 1031),
            "[TT.MM.JJ]");
}

TEST_F(FormattingTest, DateAndTimeAskForTheTime) {
  calls_->date_sample = "12/31/00, 2:30 PM";
  const Variant moment(Date::FromParts(2000, 12, 31, 14, 30));
  EXPECT_EQ(lib_sales::Sls_FormatDateTime(moment, 1033), "12/31/00, 2:30 PM");
  EXPECT_EQ(calls_->names, std::vector<std::string>{"DateTime+time"});
}

TEST_F(FormattingTest, DateFailureNamesValueAndLocale) {
  calls_->fail_dates = true;
  try {
    lib_sales::Sls_FormatDate(Variant(Date::FromParts(2000, 12, 31)), 9999);
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "Wrenlow.DataFunctions");
    EXPECT_TRUE(Contains(e.description(), " METHOD: Lib_Sales.Sls_FormatDate\r\n"));
    EXPECT_TRUE(Contains(e.description(), " INFO: Failed to format 2000-12-31 for locale: 9999.\r\n"));
  }
  // A template over a failing date is reported at both levels.
  log_.clear();
  EXPECT_THROW(lib_sales::Sls_FormatDateTemplate(
                   {Variant("yyyy"), Variant("yy"), Variant("mm"), Variant("dd")}, 9999),
               platform::ComError);
  ASSERT_EQ(log_.entries().size(), 2u);
  EXPECT_TRUE(Contains(log_.entries()[1].text, "Lib_Sales.Sls_FormatDateTemplate()"));
}

TEST_F(FormattingTest, XmlTextEscapesTheAmpersandFirst) {
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant("<&")), "&lt;&amp;");
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant("a &amp; b > c")),
            "a &amp;amp; b &gt; c");
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant("O'Neil \"Ltd\"")),
            "O'Neil \"Ltd\"");
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant::Null()), "");
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant(2.5)), "2.5");
  EXPECT_EQ(lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant(true)), "True");
  try {
    lib_sales::Sls_ReplaceForbiddenXMLTokens(Variant(ObjectPtr(Dictionary::New())));
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_TRUE(Contains(e.description(), " METHOD: Lib_Sales.Sls_ReplaceForbiddenXMLTokens"));
    EXPECT_TRUE(Contains(e.description(), " INFO: failed with ''."));
  }
}

// ---- currency symbols ----

class FakeCurrency : public Dispatchable<FakeCurrency> {
 public:
  explicit FakeCurrency(int* released) : released_(released) {}
  static const ClassBinding<FakeCurrency>& Binding() {
    static const auto b = ClassBinding<FakeCurrency>("Currency")
                              .Method("GetCurrencyInfo", &FakeCurrency::GetCurrencyInfo)
                              .Method("ReleaseCurrency", &FakeCurrency::ReleaseCurrency);
    return b;
  }
  Variant GetCurrencyInfo(const std::string& code) {
    auto info = Dictionary::New();
    info->Add("CURRENCYCODE", Variant(code));
    if (code == "EUR") {
      info->Add("EURO", Variant(true));
      info->Add("LOCALEID", Variant(int32_t{1031}));
    } else if (code == "GBP") {
      info->Add("EURO", Variant(false));
      info->Add("LOCALEID", Variant(int32_t{2057}));
    } else if (code == "XAU") {
      info->Add("EURO", Variant::Null());
      info->Add("LOCALEID", Variant::Null());
    } else {
      platform::Raise(5, "Kelmor.Currency", "Unknown currency: " + code);
    }
    return Variant(ObjectPtr(info));
  }
  void ReleaseCurrency() { ++*released_; }

 private:
  int* released_;
};

class CurrencySymbolTest : public FormattingTest {
 protected:
  int released_ = 0;
  platform::ScopedRegistration currency_{
      "Kelmor.Currency", [this] { return std::make_shared<FakeCurrency>(&released_); }};
};

TEST_F(CurrencySymbolTest, EuroNeedsNoLocaleFormatting) {
  EXPECT_EQ(lib_sales::Sls_GetCurrencySymol("EUR"), "\u20AC");
  EXPECT_EQ(functions_created_, 0);
  EXPECT_TRUE(calls_->names.empty());
  EXPECT_EQ(released_, 1);
}

TEST_F(CurrencySymbolTest, OtherCurrenciesTakeTheSymbolOfTheirHomeLocale) {
  EXPECT_EQ(lib_sales::Sls_GetCurrencySymol("GBP"), "£");
  EXPECT_EQ(calls_->first_args.at(0), Variant(int32_t{2057}));
  // Without a home locale there is nothing to ask: the euro sign stands.
  EXPECT_EQ(lib_sales::Sls_GetCurrencySymol("XAU"), "\u20AC");
  EXPECT_EQ(calls_->names.size(), 1u);
  EXPECT_EQ(released_, 2);
}

TEST_F(CurrencySymbolTest, UnknownCurrencyIsRaised) {
  try {
    lib_sales::Sls_GetCurrencySymol("XXX");
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.source(), "Kelmor.Currency");
    EXPECT_TRUE(Contains(e.description(), " METHOD: Lib_Sales.Sls_GetCurrencySymol\r\n"));
  }
}

// ---- labels ----

class LabelTest : public vendra_test::InstanceTest {
 protected:
  LabelTest() {
    // The rows these tests read, whatever the demo data holds.
    platform::data::Connection connection;
    connection.Open(lib_sales::Sls_ConnectionString());
    platform::data::ExecuteScript(
        connection,
        "DELETE FROM I18NTEXT WHERE (LOCALEID = 1033 AND LABEL IN ('SLBSA7012', 'SLBSA7000',"
        " 'SLBSA0831')) OR (LOCALEID = 1031 AND LABEL IN ('SLBSA7012', 'SLBSA7000'));"
        "INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES"
        " (1033, 'SLBSA7012', 'yyyy'), (1031, 'SLBSA7012', 'JJJJ'),"
        " (1033, 'SLBSA7000', 'yy'), (1031, 'SLBSA7000', 'JJ'),"
        " (1033, 'SLBSA0831', 'Web orders could not be transferred to the back end');");
    connection.Close();
  }
  static platform::VariantArray Labels(std::initializer_list<const char*> codes) {
    platform::VariantArray labels;
    for (const char* code : codes) labels.emplace_back(code);
    return labels;
  }

  vendra_test::ScopedRecordingLog log_;
};

TEST_F(LabelTest, DatabaseGivesTheLabelsOfTheLocale) {
  auto labels = lib_sales::Sls_getI18N(Labels({"SLBSA7012", "SLBSA7000", "SLBSA9999"}), "anna",
                                       Variant("1031"));
  ASSERT_TRUE(labels);
  EXPECT_EQ(labels->Count(), 2);  // only what the table holds
  EXPECT_EQ(labels->Item("SLBSA7012").ToString(), "JJJJ");
  EXPECT_EQ(labels->Item("SLBSA7000").ToString(), "JJ");
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(LabelTest, LocaleWithoutValueIsTheUsersOwn) {
  // bernd's directory entry carries the German locale.
  auto labels = lib_sales::Sls_getI18N(Labels({"SLBSA7012"}), "bernd", Variant("0"));
  ASSERT_TRUE(labels);
  EXPECT_EQ(labels->Item("SLBSA7012").ToString(), "JJJJ");
  labels = lib_sales::Sls_getI18N(Labels({"SLBSA7012"}), "bernd", Variant(""));
  ASSERT_TRUE(labels);
  EXPECT_EQ(labels->Item("SLBSA7012").ToString(), "JJJJ");
}

TEST_F(LabelTest, LocaleWithoutLabelsIsAbsentAndLogged) {
  EXPECT_EQ(lib_sales::Sls_getI18N(Labels({"SLBSA7012"}), "anna", Variant("1049")), nullptr);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source, "No Labels present for User/Locale:anna locale: 1049");
  EXPECT_TRUE(Contains(log_.entries()[0].text, " DESC: Not an actual error."));
}

TEST_F(LabelTest, EmptyLabelListOnTheDatabasePathIsAFailedRead) {
  EXPECT_EQ(lib_sales::Sls_getI18N({}, "anna", Variant("1033")), nullptr);
  // The data routine reports the statement, then the label routine its reading.
  ASSERT_EQ(log_.entries().size(), 2u);
  EXPECT_TRUE(Contains(log_.entries()[0].text,
                       "executing: 'Select LABEL, TEXT  From I18NTEXT  Where LOCALEID = 1033 AND ( '"));
  EXPECT_TRUE(Contains(log_.entries()[1].text, " METHOD: Vendra.Lib_Sales.Sls_getI18N()"));
  EXPECT_TRUE(Contains(log_.entries()[1].text, " INFO: Reading of Labels failed."));
}

TEST_F(LabelTest, UnknownUserOrHostileLabelsReadNothing) {
  EXPECT_EQ(lib_sales::Sls_getI18N(Labels({"SLBSA7012"}), "ghost", Variant()), nullptr);
  EXPECT_TRUE(Contains(log_.entries().back().text, "Reading of Labels failed"));
  log_.clear();
  // A quote in a code stays inside its literal: nothing matches.
  EXPECT_EQ(lib_sales::Sls_getI18N(Labels({"X' OR LABEL <> '"}), "anna", Variant("1033")),
            nullptr);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_TRUE(Contains(log_.entries()[0].source, "No Labels present"));
}

TEST_F(LabelTest, OneLabelTextIsReadEveryTime) {
  EXPECT_EQ(lib_sales::Sls_getI18NText("SLBSA0831", Variant("1033")),
            "Web orders could not be transferred to the back end");
  EXPECT_EQ(lib_sales::Sls_getI18NText("SLBSA0831", Variant(int32_t{1033})),
            "Web orders could not be transferred to the back end");
  EXPECT_TRUE(log_.entries().empty());

  EXPECT_EQ(lib_sales::Sls_getI18NText("SLBSA9999", Variant("1033")), "");
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source, "Sls_getI18NText");
  EXPECT_TRUE(Contains(log_.entries()[0].text, " INFO: No Labels present for Locale:locale: 1033."));

  log_.clear();
  EXPECT_EQ(lib_sales::Sls_getI18NText("SLBSA0831", Variant("English")), "");
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_TRUE(Contains(log_.entries()[0].text, " METHOD: Vendra.Lib_Sales.Sls_getI18NText()"));
}

TEST_F(LabelTest, EachThreadKeepsOneLabelEncoder) {
  int created = 0;
  platform::ScopedRegistration encoder("SqlValueEncoder", [&created] {
    ++created;
    return std::make_shared<platform::SqlValueEncoder>();
  });
  lib_sales::Sls_getI18NText("SLBSA0831", Variant("1033"));
  lib_sales::Sls_getI18N(Labels({"SLBSA7012", "SLBSA7000"}), "anna", Variant("1033"));
  EXPECT_EQ(created, 1);
  std::thread other([] { lib_sales::Sls_getI18NText("SLBSA0831", Variant("1033")); });
  other.join();
  EXPECT_EQ(created, 2);
}

class WebLabelTest : public LabelTest {
 protected:
  WebLabelTest() { platform::InstallMessageManager(*application_); }
  std::shared_ptr<Dictionary> application_ = Dictionary::New();
};

TEST_F(WebLabelTest, MessageManagerAnswersInsideARequest) {
  platform::Activity request(application_);
  auto labels = lib_sales::Sls_getI18N(Labels({"SLBSA7012", "SLBSA9999"}), "anna", Variant("1033"));
  ASSERT_TRUE(labels);
  EXPECT_EQ(labels->Item("SLBSA7012").ToString(), "yyyy");
  EXPECT_TRUE(labels->Exists("SLBSA9999"));
  EXPECT_EQ(labels->Item("SLBSA9999").ToString(), "");
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source,
            "Label or Locale not known for user:anna locale: 1033 Message Code: SLBSA9999");
}

TEST_F(WebLabelTest, EmptyListGivesAnEmptyDictionary) {
  platform::Activity request(application_);
  auto labels = lib_sales::Sls_getI18N({}, "anna", Variant("1033"));
  ASSERT_TRUE(labels);
  EXPECT_EQ(labels->Count(), 0);
}

TEST_F(WebLabelTest, CodeAskedForTwiceIsAFailedRead) {
  platform::Activity request(application_);
  EXPECT_EQ(lib_sales::Sls_getI18N(Labels({"SLBSA7012", "SLBSA7012"}), "anna", Variant("1033")),
            nullptr);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_TRUE(Contains(log_.entries()[0].text, " INFO: Reading of Labels failed."));
}

TEST_F(WebLabelTest, ApplicationWithoutMessageManagerIsAFailedRead) {
  platform::Activity request(Dictionary::New());
  EXPECT_EQ(lib_sales::Sls_getI18N(Labels({"SLBSA7012"}), "anna", Variant("1033")), nullptr);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_TRUE(Contains(log_.entries()[0].text, "Reading of Labels failed"));
}

TEST(DemoLabelsTest, DateHintsOfTheDemoShop) {
  vendra_test::TestInstance instance;
  // Real locale formatting over the demo captions, as the quotation pages use them.
  for (auto [locale, hint] : {std::pair{1033, "[mm/dd/yy]"}, std::pair{1031, "[TT.MM.JJ]"},
                              std::pair{2057, "[dd/mm/yyyy]"}}) {
    const std::string locale_text = locale == 2057 ? "1033" : std::to_string(locale);
    auto labels = lib_sales::Sls_getI18N(
        {Variant("SLBSA7012"), Variant("SLBSA7000"), Variant("SLBSA7013"), Variant("SLBSA7015")},
        "anna", Variant(locale_text));
    ASSERT_TRUE(labels) << "the demo instance has no labels for " << locale_text;
    EXPECT_EQ(lib_sales::Sls_FormatDateTemplate(
                  {labels->Item("SLBSA7012"), labels->Item("SLBSA7000"), labels->Item("SLBSA7013"),
                   labels->Item("SLBSA7015")},
                  locale),
              hint);
  }
}

}  // namespace
