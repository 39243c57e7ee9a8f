#include "apps/instance/demo_exports.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/core/com_error.h"

namespace vendra_instance {

namespace {

namespace fs = std::filesystem;

// Units and groups the demo catalogue has already, then more of each kind.
const char* const kUnits[][2] = {
    {"PCS", "Pieces"}, {"BOX", "Box of 100"}, {"SET", "Set"},      {"M", "Metre"},
    {"KG", "Kilogram"}, {"L", "Litre"},       {"PAL", "Pallet"},  {"ROL", "Roll"},
    {"PR", "Pair"},     {"CM", "Centimetre"}, {"MM", "Millimetre"}, {"T", "Tonne"}};
const char* const kGroups[][2] = {
    {"Fasteners", "Mechanical"}, {"Hydraulics", "Fluid power"}, {"Hand tools", "Tools"},
    {"Tubing", "Fluid power"},   {"Services", "Services"},      {"Pneumatics", "Fluid power"},
    {"Seals", "Mechanical"},     {"Bearings", "Mechanical"},    {"Electrical", "Electrical"},
    {"Safety", "Workwear"},      {"Lubricants", "Chemicals"},   {"Abrasives", "Tools"}};
const char* const kSuppliers[] = {"S2001", "S2002", "S2003"};
const char* const kCommodities[] = {"7318", "8412", "8413", "8467", "7306"};

void WriteAtomically(const fs::path& file, const std::string& text) {
  fs::path temporary = file;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      platform::Raise(platform::err::kPermissionDenied, "vendra.demo_exports",
                      "The export file '" + temporary.string() + "' cannot be written");
    }
  }
  fs::rename(temporary, file);
}

std::string GroupName(int i, int groups) {
  if (i < 12) return kGroups[i][0];
  return "Group " + std::to_string(i + 1);
}

std::string UnitCode(int i) {
  if (i < 12) return kUnits[i][0];
  return "U" + std::to_string(i + 1);
}

}  // namespace

std::string DemoPartNumber(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "IT-%05d", n);
  return text;
}

void WriteDemoExports(const fs::path& folder, const DemoExportSize& size) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  const int units = std::max(size.units, 1);
  const int groups = std::max(size.groups, 1);

  std::string text;
  for (int i = 0; i < units; ++i) {
    text += UnitCode(i) + "\t" + (i < 12 ? kUnits[i][1] : "Unit " + std::to_string(i + 1)) + "\r\n";
  }
  if (size.exception_cases) text += "BAG\t\r\n";  // no description: skipped, logged
  WriteAtomically(folder / "tcmcs001", text);

  text.clear();
  for (int i = 0; i < groups; ++i) {
    std::string classification = i < 12 ? kGroups[i][1] : "Classification " + std::to_string(i % 7);
    // A quoted value may hold the column delimiter.
    if (size.exception_cases && i == 11) classification = "Grinding\tand polishing";
    text += "\"" + GroupName(i, groups) + "\"\t\"" + classification + "\"\r\n";
  }
  WriteAtomically(folder / "tcmcs044", text);

  text.clear();
  text.reserve(static_cast<size_t>(size.items) * 110);
  for (int n = 1; n <= size.items; ++n) {
    const std::string part = DemoPartNumber(n);
    std::string description = "Demo item " + std::to_string(n) + ", " + GroupName(n % groups, groups);
    std::string supplier = kSuppliers[n % 3];
    std::string unit = UnitCode(n % std::min(units, 12));
    std::string tax = n % 10 == 0 ? "V02" : "V01";
    std::string commodity = n % 4 == 0 ? "" : kCommodities[n % 5];
    const int type = n % 25 == 0 ? 3 : (n % 40 == 0 ? 2 : 0);
    if (size.exception_cases) {
      if (n == 7) unit = "ZZZ";          // a unit that does not exist
      if (n == 11) tax = "V09";          // a tax code not found
      if (n == 13) supplier = "S2999";   // a supplier without a business partner
      if (n == 17) description.clear();  // no description
    }
    text += part + "\t" + description + "\t" + supplier + "\t" + part.substr(3) + "\t" +
            std::to_string(type) + "\t" + unit + "\t" + commodity + "\t\t" + tax + "\t100\t" +
            std::to_string(1 + n % 30) + "\t" + GroupName(n % groups, groups) + "\r\n";
  }
  WriteAtomically(folder / "tiitm001", text);

  text.clear();
  text.reserve(static_cast<size_t>(size.idnos) * 60);
  for (int n = 1; n <= size.idnos; ++n) {
    char idno[32], package[32], length[32];
    std::snprintf(idno, sizeof idno, "ID%07d", n);
    std::snprintf(package, sizeof package, "PK%06d", (n + 1) / 2);
    std::snprintf(length, sizeof length, "%d.%d", 1 + n % 12, n % 10);
    const int item = size.items > 0 ? 1 + (n * 7) % size.items : 1;
    text += std::string("\"") + idno + "\"\t\"" + length + "\"\t\"WH" + std::to_string(1 + n % 3) +
            "\"\t\"" + package + "\"\t\"" + DemoPartNumber(item) + "\"\r\n";
  }
  WriteAtomically(folder / "tdlra010", text);
}

}  // namespace vendra_instance
