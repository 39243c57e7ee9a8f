#include "shared/error_handling.h"

#include <cstdio>

#include "platform/core/object.h"
#include "shared/components.h"

namespace lib_sales {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The info value as text. A failure is being reported, so an info that has no
// text form (Null, an object) must not raise a second failure: it reads as
// the empty text, as concatenating it always did.
std::string InfoText(const platform::Variant& info) {
  if (info.IsMissing()) return {};
  try {
    return info.ToString();
  } catch (...) {
    return {};
  }
}

// WriteLog obtains the log component through Sls_GetComponent, whose own
// handler logs through WriteLog: when the log itself cannot be created that
// would recurse without end. The inner attempt is skipped instead, and the
// creation failure reaches the outer WriteLog's caller.
thread_local int write_log_depth = 0;

class DepthGuard {
 public:
  DepthGuard() { ++write_log_depth; }
  ~DepthGuard() { --write_log_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

}  // namespace

std::string FormatErrorText(std::string_view description, int32_t number,
                            std::string_view method, const Info& info) {
  char hex[16];
  // Negative numbers show their 32-bit two's complement, as HRESULTs are read.
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(static_cast<uint32_t>(number)));
  std::string text;
  text.reserve(description.size() + method.size() + 64);
  text.append(kCrLf).append("ERROR 0x").append(hex).append(kCrLf);
  text.append(" METHOD: ").append(method).append(kCrLf);
  text.append(" DESC: ").append(description).append(".").append(kCrLf);
  if (info) text.append(" INFO: ").append(InfoText(*info)).append(".").append(kCrLf);
  return text;
}

void WriteLog(int32_t level, std::string_view method, const Info& info) {
  if (write_log_depth > 0) return;
  DepthGuard guard;
  const platform::ComError current = platform::CurrentError();
  std::string text;
  std::string source;
  if (current.number() != 0) {
    text = FormatErrorText(current.description(), current.number(), method, info);
    source = current.source();
  } else {
    text = FormatErrorText("Not an actual error", 0, method, info);
    source = std::string(method);
  }
  const platform::ObjectPtr log = Sls_GetComponent("Orvanta.Log");
  platform::Call(log, "WriteEntry",
                 {platform::Variant(source), platform::Variant(text), platform::Variant(level),
                  platform::Variant()});
}

void LogAndRaise(std::string_view method, const Info& info) {
  platform::ComError snapshot = platform::CurrentError();
  if (snapshot.number() == 0) return;
  snapshot.set_description(
      FormatErrorText(snapshot.description(), snapshot.number(), method, info));
  // The snapshot becomes the current error while the entry is written, so the
  // log shows the formatted block nested in its DESC line; the caller gets it
  // formatted once. The log must never hide the failure being reported.
  try {
    throw snapshot;
  } catch (const platform::ComError&) {
    try {
      WriteLog(0, method, info);
    } catch (...) {
    }
  }
  throw snapshot;
}

void LogFailure(std::string_view method, const Info& info) { WriteLog(0, method, info); }

void LogWarning(std::string_view method, const Info& info) { WriteLog(2, method, info); }

void RaiseVendraError(VendraError code, std::string source, std::string description) {
  throw platform::ComError(Code(code), std::move(source), std::move(description));
}

}  // namespace lib_sales
