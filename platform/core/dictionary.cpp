#include "platform/core/dictionary.h"

#include "platform/core/com_error.h"

namespace platform {

const ClassBinding<Dictionary>& Dictionary::Binding() {
  static const auto b = ClassBinding<Dictionary>("Dictionary")
      .Method("Add", &Dictionary::Add)
      .Property("Item", &Dictionary::Item, &Dictionary::SetItem)
      .Method("Exists", &Dictionary::Exists)
      .Method("Remove", &Dictionary::Remove)
      .Method("RemoveAll", &Dictionary::RemoveAll)
      .Property("Count", &Dictionary::Count)
      .Method("Keys", &Dictionary::Keys)
      .Method("Items", &Dictionary::Items);
  return b;
}

void Dictionary::Add(const std::string& key, const Variant& value) {
  if (index_.count(key)) Raise(err::kKeyAlreadyExists, "Scripting.Dictionary");
  index_.emplace(key, entries_.size());
  entries_.emplace_back(key, value);
}

Variant Dictionary::Item(const std::string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? Variant() : entries_[it->second].second;
}

void Dictionary::SetItem(const std::string& key, const Variant& value) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    entries_[it->second].second = value;
    return;
  }
  index_.emplace(key, entries_.size());
  entries_.emplace_back(key, value);
}

bool Dictionary::Exists(const std::string& key) const { return index_.count(key) != 0; }

void Dictionary::Remove(const std::string& key) {
  auto it = index_.find(key);
  if (it == index_.end()) Raise(kElementNotFound, "Scripting.Dictionary");
  const size_t at = it->second;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
  // The entries behind the removed one moved up by one.
  for (size_t i = at; i < entries_.size(); ++i) index_[entries_[i].first] = i;
}

void Dictionary::RemoveAll() {
  entries_.clear();
  index_.clear();
}

VariantArray Dictionary::Keys() const {
  VariantArray keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.emplace_back(e.first);
  return keys;
}

VariantArray Dictionary::Items() const {
  VariantArray items;
  items.reserve(entries_.size());
  for (const auto& e : entries_) items.push_back(e.second);
  return items;
}

}  // namespace platform
