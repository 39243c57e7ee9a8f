#include "platform/services/configuration.h"

#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <sstream>
#include <string_view>

#include "platform/core/com_error.h"
#include "platform/host/instance.h"
#include "platform/core/text.h"

namespace platform {

namespace {

constexpr const char* kSource = "Orvanta.Configuration";

std::string_view Trim(std::string_view s) { return text::TrimSpace(s); }
using text::EqualsNoCase;

// Reads and parses an XML file whose root element must be `root`. A file that
// is missing or unreadable is 70, as the store has always reported it; a file
// that is not the expected XML gets its own number so it is not mistaken for
// a permission problem.
std::shared_ptr<pugi::xml_document> LoadXml(const std::filesystem::path& file,
                                           const char* root) {
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in) {
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) in.setstate(std::ios::failbit);
    text = std::move(buffer).str();
  }
  std::error_code ec;
  if (!in || std::filesystem::is_directory(file, ec)) {
    const bool exists = std::filesystem::exists(file, ec);
    Raise(err::kPermissionDenied, kSource,
          "Permission denied: configuration file '" + file.string() + "' " +
              (exists ? "cannot be read" : "does not exist"));
  }
  auto doc = std::make_shared<pugi::xml_document>();
  const pugi::xml_parse_result parsed = doc->load_buffer(text.data(), text.size());
  if (!parsed) {
    Raise(config_error::kMalformedFile, kSource,
          "Configuration file '" + file.string() + "' is not well-formed XML: " +
              parsed.description() + " at byte " + std::to_string(parsed.offset));
  }
  if (std::string_view(doc->document_element().name()) != root) {
    Raise(config_error::kMalformedFile, kSource,
          "Configuration file '" + file.string() + "' has no <" + root + "> root element");
  }
  return doc;
}

std::filesystem::path PlatformFile() { return InstanceHome::Get() / "platform.xml"; }

// The <webapplication> elements of the application, in document order.
std::vector<pugi::xml_node> WebApplications(const pugi::xml_document& platform,
                                            std::string_view application) {
  std::vector<pugi::xml_node> found;
  for (pugi::xml_node app :
       platform.document_element().child("webapplications").children("webapplication")) {
    if (EqualsNoCase(Trim(app.attribute("name").value()), Trim(application)))
      found.push_back(app);
  }
  return found;
}

std::string SiteApplication(const pugi::xml_document& platform) {
  const std::string_view name = Trim(platform.document_element().child("site").attribute("application").value());
  return name.empty() ? std::string("Vendra") : std::string(name);
}

pugi::xml_node FindByTrimmedAttribute(pugi::xml_node parent, const char* element,
                                      const char* attribute, std::string_view wanted) {
  wanted = Trim(wanted);
  for (pugi::xml_node n : parent.children(element)) {
    if (Trim(n.attribute(attribute).value()) == wanted) return n;
  }
  return {};
}

// Converts an item's text by its type attribute with the platform's own
// conversions, so "30" typed long reads exactly as CLng("30") would.
Variant TypedValue(const pugi::xml_node& item, const std::string& section,
                   const std::string& key, const std::filesystem::path& file) {
  const std::string text = item.child_value();
  const std::string type(Trim(item.attribute("type").value()));
  auto invalid = [&](const std::string& why) -> ComError {
    return ComError(config_error::kInvalidType, kSource,
                    "Type of item '" + key + "' in section '" + section + "' of '" +
                        file.string() + "' is not valid: " + why);
  };
  if (type.empty() || type == "string") return Variant(text);
  try {
    const Variant raw(text);
    if (type == "long") return Variant(raw.ToLong());
    if (type == "integer") return Variant(raw.ToInteger());
    if (type == "double") return Variant(raw.ToDouble());
    if (type == "boolean") return Variant(raw.ToBool());
    if (type == "date") {
      if (auto d = Date::Parse(Trim(text))) return Variant(*d);
      throw invalid("'" + text + "' is not a date");
    }
  } catch (const ComError& e) {
    if (e.number() == config_error::kInvalidType) throw;
    throw invalid("'" + text + "' is not a value of type " + type);
  }
  throw invalid("unknown type '" + type + "'");
}

}  // namespace

const ClassBinding<Configuration>& Configuration::Binding() {
  static const auto b = ClassBinding<Configuration>("Configuration")
                            .Method("GetWebInfo", &Configuration::GetWebInfo)
                            .Method("LoadConfigFile", &Configuration::LoadConfigFile)
                            .Method("LoadSiteConfig", &Configuration::LoadSiteConfig)
                            .Method("LoadApplicationConfig", &Configuration::LoadApplicationConfig)
                            .Method("GetValue", &Configuration::GetValue)
                            .Method("GetConnectionString", &Configuration::GetConnectionString);
  return b;
}

Configuration::Configuration() = default;
Configuration::~Configuration() = default;

std::shared_ptr<Dictionary> Configuration::GetWebInfo(const std::string& application) {
  const auto platform = LoadXml(PlatformFile(), "platform");
  auto records = Dictionary::New();
  for (const pugi::xml_node& app : WebApplications(*platform, application)) {
    auto record = Dictionary::New();
    record->SetItem("ConfigDir", Variant(std::string(app.attribute("configdir").value())));
    record->SetItem("Name", Variant(std::string(app.attribute("name").value())));
    record->SetItem("Site", Variant(std::string(app.attribute("site").value())));
    record->SetItem("VirtualDirectory",
                    Variant(std::string(app.attribute("virtualdirectory").value())));
    // Two records on the same site would be one application installed twice
    // under the same key; the later one describes it.
    records->SetItem(app.attribute("site").value(), Variant(record));
  }
  return records;
}

void Configuration::LoadConfigFile(const std::string& path) {
  const std::filesystem::path file = ResolveInstancePath(path);
  document_ = LoadXml(file, "configuration");
  loaded_file_ = file;
}

void Configuration::LoadSiteConfig() {
  const auto platform = LoadXml(PlatformFile(), "platform");
  const std::filesystem::path dir = ApplicationConfigDir(SiteApplication(*platform));
  document_ = LoadXml(dir / "siteconfiguration.xml", "configuration");
  loaded_file_ = dir / "siteconfiguration.xml";
}

void Configuration::LoadApplicationConfig(const std::string& application, int16_t /*flag*/) {
  const std::filesystem::path file =
      ApplicationConfigDir(application) / (std::string(Trim(application)) + "Configuration.xml");
  document_ = LoadXml(file, "configuration");
  loaded_file_ = file;
}

Variant Configuration::GetValue(const std::string& section, const std::string& key) {
  if (!document_) {
    Raise(config_error::kStoreNotLoaded, kSource,
          "Configuration store not loaded: load a configuration file before reading '" +
              section + "'/'" + key + "'");
  }
  const pugi::xml_node root = document_->document_element();
  const pugi::xml_node sec = FindByTrimmedAttribute(root, "section", "name", section);
  const pugi::xml_node item =
      sec ? FindByTrimmedAttribute(sec, "item", "key", key) : pugi::xml_node();
  if (!item) {
    Raise(config_error::kKeyNotFound, kSource,
          "Key '" + std::string(Trim(key)) + "' is not found in section '" +
              std::string(Trim(section)) + "' of configuration file '" + loaded_file_.string() +
              "'");
  }
  return TypedValue(item, std::string(Trim(section)), std::string(Trim(key)), loaded_file_);
}

std::string Configuration::GetConnectionString(const std::string& application) {
  std::shared_ptr<pugi::xml_document> doc = document_;
  std::filesystem::path file = loaded_file_;
  if (!doc) {
    file = ApplicationConfigDir(application) / (std::string(Trim(application)) + "Configuration.xml");
    doc = LoadXml(file, "configuration");
  }
  for (pugi::xml_node cs :
       doc->document_element().child("connectionstrings").children("connectionstring")) {
    if (EqualsNoCase(Trim(cs.attribute("application").value()), Trim(application)))
      return std::string(Trim(cs.child_value()));
  }
  Raise(config_error::kKeyNotFound, kSource,
        "No connection string for application '" + application + "' in configuration file '" +
            file.string() + "'");
}

std::filesystem::path ApplicationConfigDir(const std::string& application) {
  const auto platform = LoadXml(PlatformFile(), "platform");
  const auto apps = WebApplications(*platform, application);
  if (apps.empty()) {
    Raise(config_error::kKeyNotFound, kSource,
          "Web application '" + application + "' is not described in '" +
              PlatformFile().string() + "'");
  }
  return ResolveInstancePath(apps.back().attribute("configdir").value());
}

}  // namespace platform
