// The ERP export files of the demo shop, written into an instance's
// exchange/ folder by `vendra init --demo` for the product import: items
// (tiitm001), units (tcmcs001), statistics groups (tcmcs044, quoted) and
// identification numbers (tdlra010, quoted), tab-separated, CR LF rows.
// The rows are generated from the item number alone, so every run writes
// the same files; the benchmark and tests ask for other sizes.
//
// With exception_cases, the files hold each case the import reports once:
// an item whose unit does not exist, an item whose tax code is not found,
// an item whose supplier has no business partner, an item without a
// description, a unit without a description, and a quoted group value
// holding a tab.
//
// Thread-safety: plain functions.
#pragma once

#include <filesystem>
#include <string>

namespace vendra_instance {

struct DemoExportSize {
  int items = 300;
  int units = 12;
  int groups = 12;
  int idnos = 200;
  bool exception_cases = true;
};

// Writes the four files into folder (created when missing), each to a
// temporary name first and renamed, so a reader never sees half a file.
void WriteDemoExports(const std::filesystem::path& folder, const DemoExportSize& size = {});

// The part number of generated item n (1-based): "IT-00001".
std::string DemoPartNumber(int n);

}  // namespace vendra_instance
