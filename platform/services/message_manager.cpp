#include "platform/services/message_manager.h"

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/core/text.h"

namespace platform {

namespace {

constexpr const char kDefaultConnectionString[] =
    "Provider=SQLite;Data Source=data;Initial Catalog=Vendra";

// The table compares label codes case-insensitively; so does the cache.
std::string FoldLabel(std::string_view label) { return text::UpperAscii(label); }

// The sales connection string as the Vendra application is configured.
std::string ConfiguredConnectionString() {
  ObjectPtr config = CreateObject("Orvanta.Configuration");
  auto records = Call(config, "GetWebInfo", {"Vendra"}).As<Dictionary>();
  if (!records || records->Count() == 0) return {};
  auto record = records->entries().front().second.As<Dictionary>();
  if (!record) return {};
  Call(config, "LoadConfigFile", {record->Item("ConfigDir").ToString() + "\\VendraConfiguration.xml"});
  return Call(config, "GetConnectionString", {"Vendra"}).ToString();
}

}  // namespace

const ClassBinding<I18NMessageManager>& I18NMessageManager::Binding() {
  static const auto binding = ClassBinding<I18NMessageManager>("I18NMessageManager")
                                  .Method("GetMessage", &I18NMessageManager::GetMessage)
                                  .Method("LoadedLocales", &I18NMessageManager::LoadedLocales);
  return binding;
}

std::string I18NMessageManager::GetMessage(const std::string& label, const std::string& locale) {
  int32_t locale_id = 0;
  try {
    locale_id = Variant(locale).ToLong();
  } catch (const ComError&) {
    return {};  // no locale has such an id, so no label has a text in it
  }
  const std::shared_ptr<const Captions> captions = CaptionsOf(locale_id);
  auto it = captions->find(FoldLabel(label));
  return it == captions->end() ? std::string() : it->second;
}

int32_t I18NMessageManager::LoadedLocales() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(locales_.size());
}

std::shared_ptr<const I18NMessageManager::Captions> I18NMessageManager::CaptionsOf(int32_t locale) {
  // One lock around lookup and load: a locale is read once even when the
  // first requests of an application arrive together, and loads are rare
  // (one per locale for the application's life).
  std::lock_guard lock(mutex_);
  auto it = locales_.find(locale);
  if (it != locales_.end()) return it->second;
  auto captions = Load(locale);
  locales_.emplace(locale, captions);
  return captions;
}

std::shared_ptr<const I18NMessageManager::Captions> I18NMessageManager::Load(int32_t locale) {
  auto captions = std::make_shared<Captions>();
  auto connection = std::make_shared<data::Connection>();
  connection->Open(ConnectionString());
  auto rs = connection->Execute("SELECT LABEL, TEXT FROM I18NTEXT WHERE LOCALEID = ?",
                                {Variant(locale)});
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    const Variant text = rs->Value("TEXT");
    (*captions)[FoldLabel(rs->Value("LABEL").ToString())] = text.IsMissing() ? "" : text.ToString();
  }
  if (rs) rs->Close();
  connection->Close();
  return captions;
}

const std::string& I18NMessageManager::ConnectionString() {
  if (connection_string_.empty()) {
    try {
      connection_string_ = ConfiguredConnectionString();
    } catch (const ComError&) {
      // An application without readable configuration still has the
      // instance's own sales database.
    }
    if (connection_string_.empty()) connection_string_ = kDefaultConnectionString;
  }
  return connection_string_;
}

std::shared_ptr<I18NMessageManager> InstallMessageManager(Dictionary& application,
                                                          std::string connection_string) {
  auto manager = std::make_shared<I18NMessageManager>(std::move(connection_string));
  application.SetItem("I18NMessageManager", Variant(ObjectPtr(manager)));
  return manager;
}

}  // namespace platform
