// Configuration is the platform's configuration store ("Orvanta.Configuration").
// It knows the web applications of the instance (platform.xml: application
// name -> configuration directory) and reads one configuration file at a time
// (VendraConfiguration.xml, siteconfiguration.xml): a caller loads a file,
// then asks GetValue(section, key) as often as it likes. The file formats are
// described in docs/configuration.md.
//
// Failures callers tell apart (source "Orvanta.Configuration"):
//   0x8004000F  the section or key is not in the loaded file
//   0x80040011  the file is not a well-formed configuration file
//   0x80040013  GetValue before any file was loaded
//   0x80040014  an item's type attribute names no known type, or its text is
//               not a value of that type
//   70          the file (or platform.xml) is missing or cannot be read
//
// Thread-safety: an object is used by one caller at a time; objects share
// nothing, so every thread may hold its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace pugi {
class xml_document;
}

namespace platform {

namespace config_error {
inline constexpr int32_t kKeyNotFound = static_cast<int32_t>(0x8004000Fu);
inline constexpr int32_t kMalformedFile = static_cast<int32_t>(0x80040011u);
inline constexpr int32_t kStoreNotLoaded = static_cast<int32_t>(0x80040013u);
inline constexpr int32_t kInvalidType = static_cast<int32_t>(0x80040014u);
}  // namespace config_error

class Configuration : public Dispatchable<Configuration> {
 public:
  static const ClassBinding<Configuration>& Binding();

  Configuration();
  ~Configuration() override;

  // The web-application records of the named application (compared without
  // regard to case), keyed by web site in the order of platform.xml. Each
  // record is a Dictionary with "ConfigDir" (as written in platform.xml;
  // relative directories are taken against the instance home), "Name",
  // "Site" and "VirtualDirectory". Empty for an application platform.xml
  // does not name.
  std::shared_ptr<Dictionary> GetWebInfo(const std::string& application);

  // Loads a configuration file; "\" separators and relative paths are
  // resolved against the instance home. Replaces the file loaded before, and
  // keeps it when the new one cannot be loaded.
  void LoadConfigFile(const std::string& path);
  // The site configuration: siteconfiguration.xml of the site application
  // named in platform.xml ("Vendra" unless it says otherwise).
  void LoadSiteConfig();
  // <application>Configuration.xml in the application's configuration
  // directory. flag is kept for callers that pass one; no value changes what
  // is loaded.
  void LoadApplicationConfig(const std::string& application, int16_t flag);

  // The item's value, typed by its type attribute (a String when it has none).
  Variant GetValue(const std::string& section, const std::string& key);
  // The application's connection string: from the loaded file, or, when no
  // file is loaded, from the application's configuration file.
  std::string GetConnectionString(const std::string& application);

  // The file now loaded (empty before the first load).
  const std::filesystem::path& loaded_file() const { return loaded_file_; }

 private:
  std::shared_ptr<pugi::xml_document> document_;
  std::filesystem::path loaded_file_;
};

// The configuration directory of the application's last web-application
// record, resolved to a full path; raises 0x8004000F when platform.xml names
// no such application.
std::filesystem::path ApplicationConfigDir(const std::string& application);

}  // namespace platform
