// Dictionary is the platform's keyed collection (the scripting dictionary):
// text keys compared exactly, insertion order kept, values are Variants.
// Reading an absent key yields Empty and does not add it. The basket, order
// and quotation documents are dictionaries, and so are the web-application
// records of the configuration store.
//
// Late bound, "Item" is a property with a setter: `d.Item(key) = value` is
// SetProperty(d, "Item", {key}, value) and adds or replaces.
//
// Thread-safety: one caller at a time, like every Object.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/dispatch.h"

namespace platform {

class Dictionary : public Dispatchable<Dictionary> {
 public:
  // The classic number of Remove on an absent key.
  static constexpr int32_t kElementNotFound = 32811;

  static const ClassBinding<Dictionary>& Binding();
  static std::shared_ptr<Dictionary> New() { return std::make_shared<Dictionary>(); }

  // Raises 457 when the key is present already.
  void Add(const std::string& key, const Variant& value);
  // Empty for an absent key. A collection that must refuse absent keys (the
  // catalogue's product properties) overrides it.
  virtual Variant Item(const std::string& key) const;
  // Adds or replaces.
  void SetItem(const std::string& key, const Variant& value);
  bool Exists(const std::string& key) const;
  // Raises 32811 ("Element not found") for an absent key. Linear in the
  // entries behind the key (they keep their order).
  void Remove(const std::string& key);
  void RemoveAll();
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  VariantArray Keys() const;
  VariantArray Items() const;

  // In insertion order.
  const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, Variant>> entries_;
  std::unordered_map<std::string, size_t> index_;
};

}  // namespace platform
