// Registry maps programmatic identifiers ("Vendra.Basket", "Orvanta.Log") to
// the factories that create the objects, the way the component host creates
// a component by identifier. Identifiers compare case-insensitively. Each
// library registers its classes once at start-up; tests may put a recording
// fake in place of a component for the life of a ScopedRegistration.
//
// Thread-safety: registration at start-up or in tests; CreateObject from any
// thread (a shared lock guards the table).
#pragma once

#include <functional>
#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/object.h"

namespace platform {

using Factory = std::function<ObjectPtr()>;

class Registry {
 public:
  static Registry& Instance();

  // Replaces any earlier factory for the identifier.
  void Register(std::string_view progid, Factory factory);
  void Unregister(std::string_view progid);
  bool IsRegistered(std::string_view progid) const;
  // The factory now registered, or an empty function.
  Factory Find(std::string_view progid) const;
  std::vector<std::string> ProgIds() const;  // sorted

 private:
  Registry() = default;
  struct Entry {
    std::string progid;  // as first registered, for listings
    Factory factory;
  };
  mutable std::shared_mutex mutex_;
  std::map<std::string, Entry> entries_;  // by case-folded identifier
};

// Creates the object directly (the classic CreateObject). An unknown
// identifier raises 429 "ActiveX component can't create object: <progid>";
// an error raised by the factory itself reaches the caller unchanged.
ObjectPtr CreateObject(std::string_view progid);

// Puts a factory in place for its lifetime and restores the previous one.
class ScopedRegistration {
 public:
  ScopedRegistration(std::string progid, Factory factory);
  ~ScopedRegistration();
  ScopedRegistration(const ScopedRegistration&) = delete;
  ScopedRegistration& operator=(const ScopedRegistration&) = delete;

 private:
  std::string progid_;
  Factory previous_;
};

// Registers a Dispatchable class T (default-constructible) under progid.
template <class T>
void RegisterClass(std::string_view progid) {
  Registry::Instance().Register(progid, [] { return std::make_shared<T>(); });
}

}  // namespace platform
