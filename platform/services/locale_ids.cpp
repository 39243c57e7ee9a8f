#include "platform/services/locale_ids.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/core/com_error.h"

namespace platform {

namespace {

// Kept in ascending order of id, so a lookup is a binary search. Both ids of
// Spanish (Spain) are here: 1034 is the traditional sort order and 3082 the
// modern one, which format alike.
constexpr std::array<LocaleMapping, 49> kLocales{{
    {1026, "bg-BG"}, {1027, "ca-ES"}, {1028, "zh-TW"}, {1029, "cs-CZ"},
    {1030, "da-DK"}, {1031, "de-DE"}, {1032, "el-GR"}, {1033, "en-US"},
    {1034, "es-ES"}, {1035, "fi-FI"}, {1036, "fr-FR"}, {1038, "hu-HU"},
    {1039, "is-IS"}, {1040, "it-IT"}, {1041, "ja-JP"}, {1042, "ko-KR"},
    {1043, "nl-NL"}, {1044, "nb-NO"}, {1045, "pl-PL"}, {1046, "pt-BR"},
    {1048, "ro-RO"}, {1049, "ru-RU"}, {1050, "hr-HR"}, {1051, "sk-SK"},
    {1053, "sv-SE"}, {1055, "tr-TR"}, {1060, "sl-SI"}, {1061, "et-EE"},
    {1062, "lv-LV"}, {1063, "lt-LT"}, {2052, "zh-CN"}, {2055, "de-CH"},
    {2057, "en-GB"}, {2058, "es-MX"}, {2060, "fr-BE"}, {2064, "it-CH"},
    {2067, "nl-BE"}, {2070, "pt-PT"}, {3079, "de-AT"}, {3081, "en-AU"},
    {3082, "es-ES"}, {3084, "fr-CA"}, {4103, "de-LU"}, {4105, "en-CA"},
    {4108, "fr-CH"}, {5129, "en-NZ"}, {5132, "fr-LU"}, {6153, "en-IE"},
    {7177, "en-ZA"},
}};

static_assert(std::ranges::is_sorted(kLocales, {}, &LocaleMapping::lcid),
              "the locale table must stay sorted by id");

}  // namespace

std::span<const LocaleMapping> KnownLocales() { return kLocales; }

std::optional<std::string_view> FindIcuLocaleForLcid(int32_t lcid) {
  auto it = std::ranges::lower_bound(kLocales, lcid, {}, &LocaleMapping::lcid);
  if (it == kLocales.end() || it->lcid != lcid) return std::nullopt;
  return it->tag;
}

std::string_view IcuLocaleForLcid(int32_t lcid) {
  if (auto tag = FindIcuLocaleForLcid(lcid)) return *tag;
  Raise(err::kInvalidProcedureCall, "Wrenlow.DataFunctions",
        "Unknown locale id: " + std::to_string(lcid));
}

}  // namespace platform
