// The table of numeric locale ids (the Windows LCIDs that users, basket
// headers and currencies carry, 1033, 1031, ...) and the ICU locales they
// stand for. Every locale-dependent rendering of the platform goes through
// this one table, so a locale id means the same everywhere; an id that is not
// in it is a caller's error, never quietly formatted as some other locale.
//
// Thread-safety: the table is constant; every function may be called from
// any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform {

struct LocaleMapping {
  int32_t lcid;          // 1031
  std::string_view tag;  // "de-DE": a BCP 47 tag, as ICU's forLanguageTag reads it
};

// Every known locale id, in ascending order.
std::span<const LocaleMapping> KnownLocales();

// The ICU locale (as a BCP 47 tag) of a locale id, or nullopt when the id is
// not known.
std::optional<std::string_view> FindIcuLocaleForLcid(int32_t lcid);

// The same, raising Invalid procedure call (5) "Unknown locale id: N" with
// source "Wrenlow.DataFunctions" for an id that is not known.
std::string_view IcuLocaleForLcid(int32_t lcid);

}  // namespace platform
