#include "platform/host/context.h"

#include "platform/core/dispatch.h"
#include "platform/host/registry.h"

namespace platform {

namespace {

thread_local ObjectContext* t_current = nullptr;

}  // namespace

ObjectContext::ObjectContext(std::shared_ptr<Dictionary> application)
    : application_(std::move(application)) {}

ObjectPtr ObjectContext::CreateInstance(std::string_view progid) {
  ObjectPtr object = CreateObject(progid);
  ++created_;
  return object;
}

Variant ObjectContext::Item(std::string_view name) const {
  if (dispatch_detail::FoldName(name) == "application") return Variant(application_);
  return Variant();
}

ObjectContext* GetObjectContext() { return t_current; }

Activity::Activity(std::shared_ptr<Dictionary> application)
    : context_(std::move(application)), previous_(t_current) {
  t_current = &context_;
}

Activity::~Activity() { t_current = previous_; }

}  // namespace platform
