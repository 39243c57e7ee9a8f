#include "platform/host/registry.h"

#include <algorithm>
#include <mutex>

#include "platform/core/com_error.h"
#include "platform/core/dispatch.h"

namespace platform {

Registry& Registry::Instance() {
  static Registry registry;
  return registry;
}

void Registry::Register(std::string_view progid, Factory factory) {
  std::string key = dispatch_detail::FoldName(progid);
  std::unique_lock lock(mutex_);
  entries_[key] = Entry{std::string(progid), std::move(factory)};
}

void Registry::Unregister(std::string_view progid) {
  std::string key = dispatch_detail::FoldName(progid);
  std::unique_lock lock(mutex_);
  entries_.erase(key);
}

bool Registry::IsRegistered(std::string_view progid) const {
  std::string key = dispatch_detail::FoldName(progid);
  std::shared_lock lock(mutex_);
  auto it = entries_.find(key);
  return it != entries_.end() && it->second.factory;
}

Factory Registry::Find(std::string_view progid) const {
  std::string key = dispatch_detail::FoldName(progid);
  std::shared_lock lock(mutex_);
  auto it = entries_.find(key);
  return it == entries_.end() ? Factory() : it->second.factory;
}

std::vector<std::string> Registry::ProgIds() const {
  std::vector<std::string> ids;
  {
    std::shared_lock lock(mutex_);
    ids.reserve(entries_.size());
    for (const auto& [key, entry] : entries_) ids.push_back(entry.progid);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

ObjectPtr CreateObject(std::string_view progid) {
  // The factory runs outside the lock: it may create other objects itself.
  Factory factory = Registry::Instance().Find(progid);
  ObjectPtr object = factory ? factory() : nullptr;
  if (!object) {
    Raise(err::kCannotCreateObject, "platform.CreateObject",
          StandardErrorText(err::kCannotCreateObject) + ": " + std::string(progid));
  }
  return object;
}

ScopedRegistration::ScopedRegistration(std::string progid, Factory factory)
    : progid_(std::move(progid)), previous_(Registry::Instance().Find(progid_)) {
  Registry::Instance().Register(progid_, std::move(factory));
}

ScopedRegistration::~ScopedRegistration() {
  if (previous_) {
    Registry::Instance().Register(progid_, std::move(previous_));
  } else {
    Registry::Instance().Unregister(progid_);
  }
}

}  // namespace platform
