#include "platform/core/object.h"

#include "platform/core/com_error.h"

namespace platform {

namespace {

Object& Target(const ObjectPtr& target, std::string_view name) {
  // Calling through Nothing is the classic "Object variable not set".
  if (!target) {
    Raise(err::kObjectVariableNotSet, "platform.Call",
          StandardErrorText(err::kObjectVariableNotSet) + " (calling " +
              std::string(name) + ")");
  }
  return *target;
}

}  // namespace

Variant Call(const ObjectPtr& target, std::string_view name,
             std::initializer_list<Variant> args) {
  Object& object = Target(target, name);
  std::vector<Variant> copy(args);
  return object.Invoke(name, CallKind::Method, copy);
}

Variant CallRef(const ObjectPtr& target, std::string_view name,
                std::vector<Variant>& args) {
  return Target(target, name).Invoke(name, CallKind::Method, args);
}

Variant GetProperty(const ObjectPtr& target, std::string_view name,
                    std::initializer_list<Variant> args) {
  Object& object = Target(target, name);
  std::vector<Variant> copy(args);
  return object.Invoke(name, CallKind::PropertyGet, copy);
}

void SetProperty(const ObjectPtr& target, std::string_view name,
                 const Variant& value) {
  Object& object = Target(target, name);
  std::vector<Variant> args{value};
  object.Invoke(name, CallKind::PropertyPut, args);
}

void SetProperty(const ObjectPtr& target, std::string_view name,
                 std::initializer_list<Variant> index, const Variant& value) {
  Object& object = Target(target, name);
  std::vector<Variant> args(index);
  args.push_back(value);
  object.Invoke(name, CallKind::PropertyPut, args);
}

}  // namespace platform
