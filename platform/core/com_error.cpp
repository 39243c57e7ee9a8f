#include "platform/core/com_error.h"

#include <new>
#include <utility>

namespace platform {

ComError::ComError(int32_t number, std::string source, std::string description,
                   std::string help_file, int32_t help_context)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      help_file_(std::move(help_file)),
      help_context_(help_context) {}

void Raise(int32_t number, std::string source, std::string description) {
  if (description.empty()) description = StandardErrorText(number);
  throw ComError(number, std::move(source), std::move(description));
}

std::string StandardErrorText(int32_t number) {
  switch (number) {
    case 3: return "Return without GoSub";
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 10: return "This array is fixed or temporarily locked";
    case 11: return "Division by zero";
    case 13: return "Type mismatch";
    case 28: return "Out of stack space";
    case 35: return "Sub or Function not defined";
    case 51: return "Internal error";
    case 52: return "Bad file name or number";
    case 53: return "File not found";
    case 54: return "Bad file mode";
    case 55: return "File already open";
    case 57: return "Device I/O error";
    case 58: return "File already exists";
    case 61: return "Disk full";
    case 62: return "Input past end of file";
    case 67: return "Too many files";
    case 68: return "Device unavailable";
    case 70: return "Permission denied";
    case 71: return "Disk not ready";
    case 75: return "Path/File access error";
    case 76: return "Path not found";
    case 91: return "Object variable or With block variable not set";
    case 92: return "For loop not initialized";
    case 93: return "Invalid pattern string";
    case 94: return "Invalid use of Null";
    case 424: return "Object required";
    case 429: return "ActiveX component can't create object";
    case 430: return "Class does not support Automation or does not support expected interface";
    case 438: return "Object doesn't support this property or method";
    case 440: return "Automation error";
    case 445: return "Object doesn't support this action";
    case 446: return "Object doesn't support named arguments";
    case 448: return "Named argument not found";
    case 449: return "Argument not optional";
    case 450: return "Wrong number of arguments or invalid property assignment";
    case 451: return "Property let procedure not defined and property get procedure did not return an object";
    case 457: return "This key is already associated with an element of this collection";
    case 458: return "Variable uses an Automation type not supported in Visual Basic";
    case 32811: return "Element not found";
    case err::kUnspecified: return "Unspecified error";
    default: return {};
  }
}

ComError CurrentError() {
  std::exception_ptr current = std::current_exception();
  if (!current) return ComError();
  try {
    std::rethrow_exception(current);
  } catch (const ComError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return ComError(err::kOutOfMemory, {}, StandardErrorText(err::kOutOfMemory));
  } catch (const std::exception& e) {
    return ComError(err::kUnspecified, {}, e.what());
  } catch (...) {
    return ComError(err::kUnspecified, {}, StandardErrorText(err::kUnspecified));
  }
}

}  // namespace platform
