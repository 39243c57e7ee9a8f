// ClassBinding builds the late-bound method table of a class declaratively,
// the way pybind11 builds its tables: each operation is bound once to a typed
// member function, and the binding converts the Variant arguments to the
// parameter types (and back, for by-reference parameters).
//
//   const ClassBinding<Basket>& Basket::Binding() {
//     static const auto b = ClassBinding<Basket>("Basket")
//         .Method("Restore", &Basket::Restore)
//         .Method("AddLine", &Basket::AddLine);
//     return b;
//   }
//
// Parameter kinds: by value or const reference (converted with the Variant
// rules), non-const reference (in/out: converted in, written back after the
// call), Variant& (the caller's own slot), std::optional<T> (may be omitted by
// the caller; trailing only), std::shared_ptr<T> of an Object type (Nothing
// gives nullptr; another object type is Type mismatch). Value types are bool,
// uint8_t, int16_t, int32_t, double, Currency, Date, std::string, Variant,
// VariantArray and enumerations (as Long); text parameters are std::string,
// never std::string_view, as the converted text lives only for the call.
// A failed conversion or a failing call writes nothing back.
//
// Properties: Property(name, getter[, setter]); a setter takes the getter's
// index parameters followed by the new value (`Item(key) = value` is
// SetItem(key, value)), and Object::Invoke with CallKind::PropertyPut passes
// the value last.
//
// Thread-safety: a binding is built once (function-local static) and read-only
// afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <unordered_map>
#include <utility>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace platform {

namespace dispatch_detail {

std::string FoldName(std::string_view name);  // lower-case ASCII key
[[noreturn]] void RaiseMemberNotFound(std::string_view type, std::string_view name);
[[noreturn]] void RaiseArgumentCount(std::string_view type, std::string_view name);
[[noreturn]] void RaiseReadOnly(std::string_view type, std::string_view name);

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
struct IsSharedPtr : std::false_type {};
template <class T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {
  using element = T;
};

// Converts a Variant into a parameter value of type T (T without ref/cv).
template <class T>
T FromVariant(const Variant& v) {
  if constexpr (std::is_same_v<T, Variant>) {
    return v;
  } else if constexpr (std::is_same_v<T, bool>) {
    return v.ToBool();
  } else if constexpr (std::is_enum_v<T>) {
    // Public enumerations travel as Long, as in any late-bound world.
    return static_cast<T>(v.ToLong());
  } else if constexpr (std::is_same_v<T, uint8_t>) {
    return v.ToByte();
  } else if constexpr (std::is_same_v<T, int16_t>) {
    return v.ToInteger();
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return v.ToLong();
  } else if constexpr (std::is_same_v<T, double>) {
    return v.ToDouble();
  } else if constexpr (std::is_same_v<T, Currency>) {
    return v.ToCurrency();
  } else if constexpr (std::is_same_v<T, Date>) {
    return v.ToDate();
  } else if constexpr (std::is_same_v<T, std::string>) {
    return v.ToString();
  } else if constexpr (std::is_same_v<T, VariantArray>) {
    return v.Array();
  } else if constexpr (IsSharedPtr<T>::value) {
    using E = typename IsSharedPtr<T>::element;
    ObjectPtr o = v.ToObject();
    if (!o) return nullptr;
    if constexpr (std::is_same_v<E, Object>) {
      return o;
    } else {
      auto p = std::dynamic_pointer_cast<E>(o);
      if (!p) Raise(err::kTypeMismatch, std::string(o->TypeName()));
      return p;
    }
  } else {
    static_assert(sizeof(T) == 0, "unsupported parameter type");
  }
}

template <class T>
Variant ToVariant(T&& value) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, Variant>) {
    return std::forward<T>(value);
  } else if constexpr (IsOptional<D>::value) {
    return value ? ToVariant(*value) : Variant();
  } else if constexpr (std::is_enum_v<D>) {
    return Variant(static_cast<int32_t>(value));
  } else {
    return Variant(std::forward<T>(value));
  }
}

// Holds one argument for the duration of a call.
template <class P>
struct Arg {
  using Bare = std::remove_cvref_t<P>;
  static constexpr bool kInOut =
      std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
  static constexpr bool kOptional = IsOptional<Bare>::value;

  Variant* slot;  // nullptr when an optional parameter was omitted
  std::conditional_t<kInOut && std::is_same_v<Bare, Variant>, std::monostate, Bare> value{};

  explicit Arg(Variant* s) : slot(s) {
    if constexpr (kInOut && std::is_same_v<Bare, Variant>) {
      // bound straight to the caller's slot
    } else if constexpr (kOptional) {
      if (slot) value = FromVariant<typename Bare::value_type>(*slot);
    } else {
      value = FromVariant<Bare>(*slot);
    }
  }
  P get() {
    if constexpr (kInOut && std::is_same_v<Bare, Variant>) {
      return *slot;
    } else {
      return static_cast<P>(value);
    }
  }
  void WriteBack() {
    if constexpr (kInOut && !std::is_same_v<Bare, Variant>) {
      if constexpr (kOptional) {
        if (slot) *slot = ToVariant(value);
      } else {
        *slot = ToVariant(value);
      }
    }
  }
};

template <class... P>
constexpr std::size_t RequiredCount() {
  std::size_t n = 0;
  ((n += Arg<P>::kOptional ? 0 : 1), ...);
  return n;
}

}  // namespace dispatch_detail

template <class T>
class ClassBinding {
 public:
  using Thunk = std::function<Variant(T&, std::span<Variant>)>;

  explicit ClassBinding(std::string type_name) : type_name_(std::move(type_name)) {}

  const std::string& type_name() const { return type_name_; }

  // A method: a member function of T or of a base of T, const or not.
  template <class B, class R, class... P>
  ClassBinding& Method(std::string_view name, R (B::*fn)(P...)) {
    methods_[dispatch_detail::FoldName(name)] = Bind(name, fn);
    return *this;
  }
  template <class B, class R, class... P>
  ClassBinding& Method(std::string_view name, R (B::*fn)(P...) const) {
    methods_[dispatch_detail::FoldName(name)] = Bind(name, fn);
    return *this;
  }
  // A read-only property. Its getter may take index parameters ("Item(key)");
  // a getter is callable as a method too, as late-bound callers expect.
  template <class G>
  ClassBinding& Property(std::string_view name, G getter) {
    methods_[dispatch_detail::FoldName(name)] = Bind(name, getter);
    return *this;
  }
  template <class G>
  ClassBinding& Property(std::string_view name, G getter, std::nullptr_t) {
    return Property(name, getter);
  }
  // A property with a setter. The setter takes the same index parameters as
  // the getter followed by the new value, so `d.Item(key) = value` arrives as
  // SetItem(key, value): the caller's last argument is always the value.
  template <class G, class S>
  ClassBinding& Property(std::string_view name, G getter, S setter) {
    Property(name, getter);
    setters_[dispatch_detail::FoldName(name)] = BindSetter(name, setter);
    return *this;
  }

  Variant Invoke(T& self, std::string_view name, CallKind kind,
                 std::span<Variant> args) const {
    const std::string key = dispatch_detail::FoldName(name);
    if (kind == CallKind::PropertyPut) {
      auto it = setters_.find(key);
      if (it == setters_.end()) {
        if (methods_.count(key) != 0) dispatch_detail::RaiseReadOnly(type_name_, name);
        dispatch_detail::RaiseMemberNotFound(type_name_, name);
      }
      if (args.empty()) dispatch_detail::RaiseArgumentCount(type_name_, name);
      return it->second(self, args);
    }
    auto it = methods_.find(key);
    if (it == methods_.end()) dispatch_detail::RaiseMemberNotFound(type_name_, name);
    return it->second(self, args);
  }

  bool Has(std::string_view name) const {
    return methods_.count(dispatch_detail::FoldName(name)) != 0;
  }

 private:
  template <class B, class R, class... P>
  Thunk Bind(std::string_view name, R (B::*fn)(P...)) {
    static_assert(std::is_base_of_v<B, T>, "bind members of the class or its bases");
    return MakeThunk<R, P...>(
        name, [fn](T& self, P... a) -> R { return (self.*fn)(std::forward<P>(a)...); });
  }
  template <class B, class R, class... P>
  Thunk Bind(std::string_view name, R (B::*fn)(P...) const) {
    static_assert(std::is_base_of_v<B, T>, "bind members of the class or its bases");
    return MakeThunk<R, P...>(
        name, [fn](T& self, P... a) -> R { return (self.*fn)(std::forward<P>(a)...); });
  }
  template <class B, class... S>
  Thunk BindSetter(std::string_view name, void (B::*setter)(S...)) {
    static_assert(sizeof...(S) >= 1, "a property setter takes the new value last");
    return Bind(name, setter);
  }

  template <class R, class... P, class F>
  Thunk MakeThunk(std::string_view name, F fn) {
    std::string display(name);
    std::string type = type_name_;
    return [fn, display, type](T& self, std::span<Variant> args) -> Variant {
      constexpr std::size_t kMax = sizeof...(P);
      constexpr std::size_t kMin = dispatch_detail::RequiredCount<P...>();
      if (args.size() < kMin || args.size() > kMax)
        dispatch_detail::RaiseArgumentCount(type, display);
      return CallWith<R, P...>(self, fn, args, std::index_sequence_for<P...>{});
    };
  }

  template <class R, class... P, class F, std::size_t... I>
  static Variant CallWith(T& self, const F& fn, std::span<Variant> args,
                          std::index_sequence<I...>) {
    std::tuple<dispatch_detail::Arg<P>...> held{
        dispatch_detail::Arg<P>(I < args.size() ? &args[I] : nullptr)...};
    if constexpr (std::is_void_v<R>) {
      fn(self, std::get<I>(held).get()...);
      (std::get<I>(held).WriteBack(), ...);
      return Variant();
    } else {
      Variant result = dispatch_detail::ToVariant(fn(self, std::get<I>(held).get()...));
      (std::get<I>(held).WriteBack(), ...);
      return result;
    }
  }

  std::string type_name_;
  std::unordered_map<std::string, Thunk> methods_;
  std::unordered_map<std::string, Thunk> setters_;
};

// An object whose end-of-life work can fail (an ERP action still open, a
// component session to close). A host that drops the last reference to such
// an object calls Terminate first, so the failure reaches the request that
// released it instead of vanishing in a destructor; the class runs the same
// work quietly from its destructor when no host did. Terminate is called at
// most once.
class Terminable {
 public:
  virtual ~Terminable() = default;
  virtual void Terminate() = 0;
};

// Base for classes with a binding: Invoke dispatches through T::Binding().
template <class T>
class Dispatchable : public Object {
 public:
  std::string_view TypeName() const override { return T::Binding().type_name(); }
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
    return T::Binding().Invoke(static_cast<T&>(*this), name, kind, args);
  }
};

}  // namespace platform
