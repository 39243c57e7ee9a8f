// Object is the base of everything a late-bound caller can hold in a Variant:
// the sales classes, the platform components, dictionaries and record sets.
// A caller invokes an operation by name (case-insensitive) with Variant
// arguments; a by-reference parameter writes its new value back into the
// argument, so in/out values reach the caller.
//
// Thread-safety: an object is used by one caller at a time.
#pragma once

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/variant.h"

namespace platform {

enum class CallKind { Method, PropertyGet, PropertyPut };

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;

  // The class name a caller sees ("Basket", "Dictionary", "Recordset").
  virtual std::string_view TypeName() const = 0;

  // Calls the named operation. Unknown names raise 438, a wrong number of
  // arguments 450. For PropertyPut the last argument is the new value.
  virtual Variant Invoke(std::string_view name, CallKind kind,
                         std::span<Variant> args) = 0;
};

// Late-bound helpers for callers inside the system. A null target raises
// Object variable not set (91).
// Call: arguments are copied in and the in/out values are dropped.
Variant Call(const ObjectPtr& target, std::string_view name,
             std::initializer_list<Variant> args = {});
// CallRef: in/out values come back in args.
Variant CallRef(const ObjectPtr& target, std::string_view name,
                std::vector<Variant>& args);
Variant GetProperty(const ObjectPtr& target, std::string_view name,
                    std::initializer_list<Variant> args = {});
void SetProperty(const ObjectPtr& target, std::string_view name,
                 const Variant& value);
// An indexed property put: `target.Item(key) = value` is
// SetProperty(target, "Item", {key}, value).
void SetProperty(const ObjectPtr& target, std::string_view name,
                 std::initializer_list<Variant> index, const Variant& value);

}  // namespace platform
