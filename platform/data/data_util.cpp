#include "platform/data/data_util.h"

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"

namespace platform::data::detail {

namespace {
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(UpperChar(a[i]));
    const auto y = static_cast<unsigned char>(UpperChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const size_t b = text.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  const size_t e = text.find_last_not_of(blanks);
  return text.substr(b, e - b + 1);
}

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
