#include "platform/data/data_util.h"

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"

namespace platform::data::detail {


std::string DataErrorText(int32_t number) {
  switch (number) {
    case data_err::kObjectClosed:
      return "Operation is not allowed when the object is closed.";
    case data_err::kObjectOpen:
      return "Operation is not allowed when the object is open.";
    case data_err::kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. "
             "Requested operation requires a current record.";
    case data_err::kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    case data_err::kNotUpdatable:
      return "Current Recordset does not support updating. This may be a limitation of the "
             "provider, or of the selected locktype.";
    case data_err::kBadArguments:
      return "Arguments are of the wrong type, are out of acceptable range, or are in conflict "
             "with one another.";
    case data_err::kNotAllowed:
      return "Operation is not allowed in this context.";
    case data_err::kProviderNotFound:
      return "Provider cannot be found. It may not be properly installed.";
    case data_err::kTypeNotSupported:
      return "Data type is not supported.";
    case data_err::kNoConnection:
      return "The connection cannot be used to perform this operation. It is either closed or "
             "invalid in this context.";
    case data_err::kNoTransaction:
      return "No transaction is active.";
    case data_err::kRowNotLocated:
      return "Row cannot be located for updating. Some values may have been changed since it "
             "was last read.";
    default:
      return StandardErrorText(number);
  }
}

void RaiseData(int32_t number, std::string_view object, std::string description) {
  if (description.empty()) description = DataErrorText(number);
  throw ComError(number, "ADODB." + std::string(object), std::move(description));
}

}  // namespace platform::data::detail
