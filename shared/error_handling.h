// The error handling of the shared runtime: the fixed text layout of a logged
// and re-raised failure, the routines every public operation ends its
// failures with, and the public error codes of the sales objects.
//
// A failure passes up through the operations as a platform::ComError. Each
// level that handles it writes one log entry and raises it again with the
// same number and source and a description in the layout
//   CR LF "ERROR 0x<hex>" CR LF " METHOD: <method>" CR LF " DESC: <text>." CR LF
//   [" INFO: <info>." CR LF]
// Guarded() is that handler, written once: every public operation runs its
// work inside it.
//
// Thread-safety: the current error is per thread; nothing here is shared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/core/com_error.h"
#include "platform/core/variant.h"

namespace platform::data {
class Connection;
}

namespace lib_sales {

// The public error codes raised by the sales objects: 0x8004012D upwards.
enum class VendraError : int32_t {
  MissingBusinessPartnerID = static_cast<int32_t>(0x8004012Du),
  MissingOrderDate,
  MissingCurrencyCode,
  MissingProductID,
  HomeCurrencyNotFound,
  HomeCurrencyPriceNotFound,
  ReferentialInsert,
  ReferentialDelete,
  UnexpectedAddPricing,
  UnexpectedGetWebPricing,
  UnexpectedGetKROPricing,
  UnexpectedUpdatePricing,
  UnexpectedDeletePricing,
  MissingEffectiveDate,
  CustomerPriceNotFound,
  ProductPriceNotFound,
  UnexpectedGetCustomerPrice,
  UnexpectedGetProductPrice,
  MissingExpiryDate,
  MissingPrice,
  MissingDiscount,
  InvalidEffectiveDate,
  InvalidExpiryDate,
  InvalidPrice,
  InvalidDiscountPercent,
  InvalidDiscountAmount,
  NonExclusiveDiscount,
  EffectiveDateRange,
  ExpiryDateRange,
  MissingOrderID,
  CreateBusinessPartner,
  OrderNotFound,
  UnexpectedGetOrderForm,
  GetBusinessPartner,
  GetProduct,
  ConfirmationParameter,
  ConfirmationFileNotFound,
  MissingExportFileName,
  MissingExportDirectory,
  MissingAddress,
  MissingHeaderAddress,
  MissingLineAddress,
  MissingOrderInfo,
  ErrorOpenExportFile,
  SalesParameterNotFound,
  UnexpectedGetParameterValue,
  KROIDNotFound,
  InvalidCustomer,
  MissingQuotationID,
  ProductDisabled,
  ProductExpired,
  InvalidConfiguration,
};
static_assert(static_cast<uint32_t>(VendraError::InvalidConfiguration) == 0x80040160u);

inline int32_t Code(VendraError e) { return static_cast<int32_t>(e); }

// An optional info value: absent differs from empty (only a present info adds
// the INFO line).
using Info = std::optional<platform::Variant>;

// The fixed layout above, with CR LF line ends.
std::string FormatErrorText(std::string_view description, int32_t number,
                            std::string_view method, const Info& info = std::nullopt);

// Inside a handler: logs the current error once (level 0) and raises it again
// with the formatted description. Without a current error it does nothing.
void LogAndRaise(std::string_view method, const Info& info = std::nullopt);

// Logs without raising: level 0 (LogFailure) or 2 (LogWarning, the back-end
// library's warnings). Outside a handler the entry reads "Not an actual error"
// and its source is the method text.
void LogFailure(std::string_view method, const Info& info = std::nullopt);
void LogWarning(std::string_view method, const Info& info = std::nullopt);
void WriteLog(int32_t level, std::string_view method, const Info& info = std::nullopt);

// "Error(s) from connection object:  (1)<description>[<number>]..." for the
// connection's error collection; empty for no connection or no errors.
std::string ConnectionErrorsText(const platform::data::Connection* connection);

// Raises a sales error with its number, source and description.
[[noreturn]] void RaiseVendraError(VendraError code, std::string source, std::string description);

// The handler pattern of a public operation: runs work; on failure the
// resources it holds are released by their destructors as the failure leaves
// it, one entry is logged and the failure is re-raised in the fixed layout
// under method. info is a callable returning Info, evaluated only on failure
// (so it may read the SQL text the work built).
template <class Work>
auto Guarded(std::string_view method, Work&& work) -> std::invoke_result_t<Work&> {
  try {
    return work();
  } catch (...) {
    LogAndRaise(method);
    throw;  // LogAndRaise always raises inside a handler
  }
}

template <class Work, class InfoFn>
auto Guarded(std::string_view method, Work&& work, InfoFn&& info)
    -> std::invoke_result_t<Work&> {
  try {
    return work();
  } catch (...) {
    // The info is built from what the work left behind; if that fails too,
    // the failure being handled still goes up, only without its INFO line.
    Info extra;
    try {
      extra = info();
    } catch (...) {
    }
    LogAndRaise(method, extra);
    throw;
  }
}

}  // namespace lib_sales
