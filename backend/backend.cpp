#include "backend/backend.h"

#include "backend/connector_classes.h"

namespace ferrolink {

namespace {

struct Version {
  const char* type;
  const char* version;
  const char* release;
  const char* sub_release;
};

constexpr Version kVersions[] = {
    {"tw4", "Vorn4", "c", "4"},
    {"tw5", "Vorn5", "c", "0"},
    {"twkt", "ERPKT6", "a", "0"},
};

}  // namespace

const platform::ClassBinding<Backend>& Backend::Binding() {
  static const auto b =
      platform::ClassBinding<Backend>("Backend").Method("VersionInfo", &Backend::VersionInfo);
  return b;
}

void Backend::VersionInfo(const std::string& iVTWType, platform::Variant& oVersion,
                          platform::Variant& oRelease, platform::Variant& oSubRelease,
                          platform::Variant& oCustomization, platform::Variant& oErrorCode) {
  for (const Version& v : kVersions) {
    if (iVTWType == v.type) {
      oVersion = platform::Variant(v.version);
      oRelease = platform::Variant(v.release);
      oSubRelease = platform::Variant(v.sub_release);
      oCustomization = platform::Variant("");
      oErrorCode = platform::Variant("");
      return;
    }
  }
  const std::string text = NotSupportedText(iVTWType);
  LogError(kUnsupportedConnectorType, "Ferrolink.Backend.VersionInfo", text,
           "Ferrolink.Backend.VersionInfo");
}

}  // namespace ferrolink
