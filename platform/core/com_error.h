// ComError is the one failure type of the platform: the five values a failure
// carries (number, source, description, help file, help context), thrown as a
// C++ exception. The "current error" of a thread is the exception being handled
// in the innermost active catch block; CurrentError() reads it in this form.
//
// Thread-safety: values only; each thread sees its own current error.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// Classic platform error numbers the system relies on.
namespace err {
inline constexpr int32_t kInvalidProcedureCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kObjectVariableNotSet = 91;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kCannotCreateObject = 429;
inline constexpr int32_t kMemberNotFound = 438;
inline constexpr int32_t kWrongArgumentCount = 450;
inline constexpr int32_t kKeyAlreadyExists = 457;
// Unspecified failure (E_FAIL) for exceptions that carry no number of their own.
inline constexpr int32_t kUnspecified = static_cast<int32_t>(0x80004005u);
}  // namespace err

class ComError : public std::exception {
 public:
  ComError() = default;
  ComError(int32_t number, std::string source, std::string description,
           std::string help_file = {}, int32_t help_context = 0);

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& help_file() const noexcept { return help_file_; }
  int32_t help_context() const noexcept { return help_context_; }

  void set_description(std::string d) { description_ = std::move(d); }

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t number_ = 0;
  std::string source_;
  std::string description_;
  std::string help_file_;
  int32_t help_context_ = 0;
};

// Throws a ComError. The text of a classic number defaults to its standard
// message when description is empty.
[[noreturn]] void Raise(int32_t number, std::string source,
                        std::string description = {});

// Standard message of a classic error number ("Overflow", "Type mismatch", ...);
// empty for numbers it does not know.
std::string StandardErrorText(int32_t number);

// The error being handled on this thread (inside a catch block), as a ComError.
// Foreign exceptions map to kOutOfMemory (std::bad_alloc) or kUnspecified with
// their what() text. Outside any handler the result has number 0.
ComError CurrentError();

}  // namespace platform
