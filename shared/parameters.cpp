#include "shared/parameters.h"

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "shared/components.h"
#include "shared/error_handling.h"

namespace lib_sales {

namespace {

std::string ConfigDirOf(const platform::Variant& record) {
  const platform::ObjectPtr object = record.ToObject();
  if (!object) return {};
  if (auto dict = std::dynamic_pointer_cast<platform::Dictionary>(object))
    return dict->Item("ConfigDir").IsMissing() ? std::string() : dict->Item("ConfigDir").ToString();
  const platform::Variant dir = platform::GetProperty(object, "Item", {platform::Variant("ConfigDir")});
  return dir.IsMissing() ? std::string() : dir.ToString();
}

}  // namespace

std::vector<std::pair<std::string, std::string>> WebInfoConfigDirs(
    const platform::Variant& web_info) {
  const platform::ObjectPtr object = web_info.IsObject() ? web_info.ToObject() : nullptr;
  if (!object) {
    platform::Raise(platform::err::kObjectRequired, "Lib_Sales.WebInfoConfigDirs",
                    "The web-application records are not a collection");
  }
  std::vector<std::pair<std::string, std::string>> dirs;
  if (auto dict = std::dynamic_pointer_cast<platform::Dictionary>(object)) {
    dirs.reserve(dict->entries().size());
    for (const auto& [key, record] : dict->entries()) dirs.emplace_back(key, ConfigDirOf(record));
    return dirs;
  }
  // Another store's collection: walk it the late-bound way.
  const platform::Variant keys = platform::Call(object, "Keys");
  for (const platform::Variant& key : keys.Array()) {
    dirs.emplace_back(key.ToString(), ConfigDirOf(platform::GetProperty(object, "Item", {key})));
  }
  return dirs;
}

std::string Sls_GetParameterValue(const std::string& name) {
  return Guarded(
      "Vendra.Lib_Sales.Sls_GetParameterValue",
      [&] {
        const platform::ObjectPtr parameters = Sls_GetComponent("Vendra.SalesParameter");
        std::vector<platform::Variant> args{platform::Variant(name)};
        return platform::CallRef(parameters, "GetParameterValue", args).ToString();
      },
      [&] { return Info(platform::Variant("Failed to retrieve parameter: " + name)); });
}

}  // namespace lib_sales
