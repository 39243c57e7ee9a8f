// The fixed layout of a reported failure and the routines that log and raise
// it: one entry per level, the caller sees the same number and source.
#include "shared/error_handling.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/core/com_error.h"
#include "platform/host/instance.h"
#include "platform/host/registry.h"
#include "platform/services/log.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using lib_sales::FormatErrorText;
using lib_sales::Info;
using platform::ComError;
using platform::Variant;

using vendra_test::Failure;

TEST(FormatErrorTextTest, Layout) {
  EXPECT_EQ(FormatErrorText("Object variable not set", 91, "Vendra.Basket.Restore()"),
            "\r\nERROR 0x5B\r\n METHOD: Vendra.Basket.Restore()\r\n"
            " DESC: Object variable not set.\r\n");
  // An empty info still adds its line; an absent one does not.
  EXPECT_EQ(FormatErrorText("d", 5, "m", Variant("")),
            "\r\nERROR 0x5\r\n METHOD: m\r\n DESC: d.\r\n INFO: .\r\n");
  EXPECT_EQ(FormatErrorText("d", 5, "m", Variant(int32_t{42})),
            "\r\nERROR 0x5\r\n METHOD: m\r\n DESC: d.\r\n INFO: 42.\r\n");
  // A Null info is no reason for a second failure.
  EXPECT_EQ(FormatErrorText("d", 5, "m", Variant::Null()),
            "\r\nERROR 0x5\r\n METHOD: m\r\n DESC: d.\r\n INFO: .\r\n");
}

TEST(FormatErrorTextTest, NumbersInHexadecimal) {
  auto number_line = [](int32_t n) {
    const std::string t = FormatErrorText("", n, "");
    return t.substr(2, t.find("\r\n", 2) - 2);
  };
  EXPECT_EQ(number_line(0), "ERROR 0x0");
  EXPECT_EQ(number_line(91), "ERROR 0x5B");
  EXPECT_EQ(number_line(lib_sales::Code(lib_sales::VendraError::ProductDisabled)),
            "ERROR 0x8004015E");
  EXPECT_EQ(number_line(static_cast<int32_t>(0x80040159u)), "ERROR 0x80040159");
  EXPECT_EQ(number_line(-1), "ERROR 0xFFFFFFFF");
  EXPECT_EQ(number_line(0x0ABC), "ERROR 0xABC");
}

class ErrorHandlingTest : public ::testing::Test {
 protected:
  vendra_test::ScopedRecordingLog log_;
};

TEST_F(ErrorHandlingTest, LogAndRaiseKeepsNumberAndSourceAndNestsTheLoggedText) {
  const Info info = Variant("SELECT 1");
  const ComError raised = Failure([&] {
    try {
      throw ComError(91, "Vendra.Basket", "Object variable not set", "help.chm", 17);
    } catch (...) {
      lib_sales::LogAndRaise("Vendra.Basket.Restore()", info);
    }
  });
  const std::string once =
      FormatErrorText("Object variable not set", 91, "Vendra.Basket.Restore()", info);
  EXPECT_EQ(raised.number(), 91);
  EXPECT_EQ(raised.source(), "Vendra.Basket");
  EXPECT_EQ(raised.description(), once);
  EXPECT_EQ(raised.help_file(), "help.chm");
  EXPECT_EQ(raised.help_context(), 17);

  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source, "Vendra.Basket");
  EXPECT_EQ(log_.entries()[0].level, 0);
  EXPECT_EQ(log_.entries()[0].text, FormatErrorText(once, 91, "Vendra.Basket.Restore()", info));
}

TEST_F(ErrorHandlingTest, WithoutACurrentErrorNothingIsLoggedOrRaised) {
  EXPECT_NO_THROW(lib_sales::LogAndRaise("Vendra.Order.SubmitBasket", Variant("x")));
  EXPECT_TRUE(log_.entries().empty());
  // Once a handler has finished, its error is no longer current.
  try {
    throw ComError(5, "s", "d");
  } catch (...) {
  }
  EXPECT_NO_THROW(lib_sales::LogAndRaise("m"));
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(ErrorHandlingTest, LogFailureAndLogWarningOutsideAFailure) {
  lib_sales::LogFailure("Lib_Sales.Sls_HasValue()");
  lib_sales::LogWarning("Ferrolink.Order.Init", Variant("connector busy"));
  ASSERT_EQ(log_.entries().size(), 2u);
  EXPECT_EQ(log_.entries()[0].source, "Lib_Sales.Sls_HasValue()");
  EXPECT_EQ(log_.entries()[0].level, 0);
  EXPECT_EQ(log_.entries()[0].text,
            "\r\nERROR 0x0\r\n METHOD: Lib_Sales.Sls_HasValue()\r\n DESC: Not an actual error.\r\n");
  EXPECT_EQ(log_.entries()[1].level, 2);
  EXPECT_EQ(log_.entries()[1].text, FormatErrorText("Not an actual error", 0,
                                                    "Ferrolink.Order.Init",
                                                    Variant("connector busy")));
}

TEST_F(ErrorHandlingTest, LogFailureInsideAHandlerUsesTheErrorsSourceAndDoesNotRaise) {
  try {
    throw ComError(13, "Kelmor.User", "Type mismatch");
  } catch (...) {
    EXPECT_NO_THROW(lib_sales::LogFailure("Lib_Sales.Sls_CreateUserObject()", Variant("anna")));
  }
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source, "Kelmor.User");
  EXPECT_EQ(log_.entries()[0].text, FormatErrorText("Type mismatch", 13,
                                                    "Lib_Sales.Sls_CreateUserObject()",
                                                    Variant("anna")));
}

TEST_F(ErrorHandlingTest, GuardedLogsOncePerLevel) {
  std::string sql;
  const ComError raised = Failure([&] {
    lib_sales::Guarded("Vendra.Order.SubmitBasket", [&] {
      lib_sales::Guarded(
          "Vendra.Manager.GetKROOrderProcessParam",
          [&] {
            sql = "SELECT * FROM ORDEREXPORTFILE";
            lib_sales::RaiseVendraError(lib_sales::VendraError::KROIDNotFound, "Vendra.Manager",
                                        "No such instance");
          },
          [&] { return Info(Variant(sql)); });
    });
  });
  const int32_t number = lib_sales::Code(lib_sales::VendraError::KROIDNotFound);
  const std::string inner = FormatErrorText("No such instance", number,
                                            "Vendra.Manager.GetKROOrderProcessParam",
                                            Variant("SELECT * FROM ORDEREXPORTFILE"));
  EXPECT_EQ(raised.number(), number);
  EXPECT_EQ(raised.source(), "Vendra.Manager");
  EXPECT_EQ(raised.description(), FormatErrorText(inner, number, "Vendra.Order.SubmitBasket"));
  EXPECT_EQ(log_.entries().size(), 2u);
}

TEST_F(ErrorHandlingTest, GuardedReportsForeignExceptionsAndSurvivesAFailingInfo) {
  const ComError raised = Failure([&] {
    lib_sales::Guarded(
        "Vendra.Pricing.GetWebPricing", [] { throw std::runtime_error("disk on fire"); },
        []() -> Info { throw std::logic_error("info broke"); });
  });
  EXPECT_EQ(raised.number(), platform::err::kUnspecified);
  EXPECT_EQ(raised.description(), FormatErrorText("disk on fire", platform::err::kUnspecified,
                                                  "Vendra.Pricing.GetWebPricing"));
  EXPECT_EQ(log_.entries().size(), 1u);
  // A successful work returns its value untouched.
  EXPECT_EQ(lib_sales::Guarded("m", [] { return 7; }), 7);
}

// A log that cannot be reached never hides the failure being reported, and a
// log component that cannot even be created does not send the report routines
// round in circles.
TEST(ErrorHandlingLogFailureTest, BrokenLogs) {
  {
    platform::ScopedRegistration no_log("Orvanta.Log", []() -> platform::ObjectPtr {
      throw ComError(platform::err::kCannotCreateObject, "registry", "cannot create Orvanta.Log");
    });
    const ComError raised = Failure([] {
      try {
        throw ComError(94, "Vendra.Quotation", "Invalid use of Null");
      } catch (...) {
        lib_sales::LogAndRaise("Vendra.Quotation.Restore");
      }
    });
    EXPECT_EQ(raised.number(), 94);
    EXPECT_EQ(raised.source(), "Vendra.Quotation");

    const ComError from_log = Failure([] { lib_sales::LogFailure("Lib_Sales.Sls_HasValue()"); });
    EXPECT_EQ(from_log.number(), platform::err::kCannotCreateObject);
    EXPECT_NE(from_log.description().find("CreateObject(Orvanta.Log) failed"), std::string::npos);
  }
  {
    vendra_test::TemporaryDirectory dir;
    platform::InstanceHome::Set(dir.path());
    std::filesystem::create_directories(dir.path() / "logs" / "platform.log");  // not a file
    const ComError raised = Failure([] {
      try {
        throw ComError(6, "Vendra.Pricing", "Overflow");
      } catch (...) {
        lib_sales::LogAndRaise("Vendra.Pricing.GetWebPricing");
      }
    });
    EXPECT_EQ(raised.number(), 6);
    EXPECT_EQ(Failure([] { lib_sales::LogWarning("x"); }).number(),
              platform::err::kPermissionDenied);
  }
}

TEST(ErrorHandlingLogFileTest, EntriesReachThePlatformLog) {
  vendra_test::TemporaryDirectory dir;
  platform::InstanceHome::Set(dir.path());
  try {
    throw ComError(91, "Vendra.Basket", "Object variable not set");
  } catch (...) {
    EXPECT_THROW(lib_sales::LogAndRaise("Vendra.Basket.Save()", Variant("")), ComError);
  }
  const auto entries = platform::ReadLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "Vendra.Basket");
  EXPECT_EQ(entries[0].text.rfind("\r\nERROR 0x5B\r\n METHOD: Vendra.Basket.Save()\r\n DESC: \r\n"
                                  "ERROR 0x5B\r\n",
                                  0),
            0u);
}

}  // namespace
