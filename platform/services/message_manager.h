// I18NMessageManager is the web application's label cache ("I18NMessageManager"
// in the application state): GetMessage(label, locale) gives the caption of a
// label code in a locale, "" when the label or the locale is unknown. The
// captions come from the I18NTEXT table of the sales database; all labels of
// a locale are read on its first use and kept for the life of the object, so
// a page that renders dozens of captions costs one query per locale and
// application, not one per caption. Label codes compare case-insensitively,
// as the table does.
//
// Thread-safety: one manager serves every request thread of its application;
// the cache is guarded by a mutex, so GetMessage may be called from any
// thread at any time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace platform {

class I18NMessageManager : public Dispatchable<I18NMessageManager> {
 public:
  static const ClassBinding<I18NMessageManager>& Binding();

  // The sales database of the instance: its connection string is taken from
  // the Vendra application's configuration when the first locale is loaded
  // (the instance's "Provider=SQLite;Data Source=data;Initial Catalog=Vendra"
  // when the configuration cannot say).
  I18NMessageManager() = default;
  explicit I18NMessageManager(std::string connection_string)
      : connection_string_(std::move(connection_string)) {}

  // "" for an unknown label, or a locale that is no number or has no labels.
  // Raises the database's failure when the labels cannot be read; nothing is
  // cached then, so the next call tries again.
  std::string GetMessage(const std::string& label, const std::string& locale);

  // How many locales have been read from the database (tests and hosts).
  int32_t LoadedLocales() const;

 private:
  using Captions = std::unordered_map<std::string, std::string>;  // folded label -> text

  std::shared_ptr<const Captions> CaptionsOf(int32_t locale);
  std::shared_ptr<const Captions> Load(int32_t locale);
  const std::string& ConnectionString();

  mutable std::mutex mutex_;
  std::string connection_string_;
  std::unordered_map<int32_t, std::shared_ptr<const Captions>> locales_;
};

// Puts a new message manager into a web application's state under
// "I18NMessageManager" (replacing one there) and returns it. Hosts call it
// once when they create the application.
std::shared_ptr<I18NMessageManager> InstallMessageManager(Dictionary& application,
                                                          std::string connection_string = {});

}  // namespace platform
