// ObjectContext is the component host's per-activity context. A host (a web
// request, the demo, a test) opens an Activity around the work of one request;
// while it is open on a thread, GetObjectContext() returns its context, objects
// created through CreateInstance join the activity, and the item
// "Application" holds the web application's state (a Dictionary, where the
// application keeps its "I18NMessageManager"). Without an activity the
// system takes its direct paths.
//
// Thread-safety: the current context is per thread; an activity is used by
// the thread that opened it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/dictionary.h"
#include "platform/core/object.h"

namespace platform {

class ObjectContext {
 public:
  explicit ObjectContext(std::shared_ptr<Dictionary> application);

  // Creates the object by identifier inside this activity. Raises like
  // CreateObject for an unknown identifier.
  ObjectPtr CreateInstance(std::string_view progid);
  // "Application" gives the application state object; other names Empty.
  Variant Item(std::string_view name) const;
  const std::shared_ptr<Dictionary>& application() const { return application_; }
  // How many objects joined this activity (hosts and tests read it).
  int created_count() const { return created_; }

 private:
  std::shared_ptr<Dictionary> application_;
  int created_ = 0;
};

// The current thread's context, or nullptr outside an activity.
ObjectContext* GetObjectContext();

// Opens an activity on this thread for its lifetime (activities nest; the
// previous context comes back when it closes).
class Activity {
 public:
  explicit Activity(std::shared_ptr<Dictionary> application = Dictionary::New());
  ~Activity();
  Activity(const Activity&) = delete;
  Activity& operator=(const Activity&) = delete;
  ObjectContext& context() { return context_; }

 private:
  ObjectContext context_;
  ObjectContext* previous_;
};

}  // namespace platform
