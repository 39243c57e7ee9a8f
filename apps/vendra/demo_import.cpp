// The demo's product import: prodloader builds the import package from its
// command line and stores it on the instance's data directory; dtsrun runs
// it over the ERP export files in exchange/; the catalogue then holds the
// imported products, and the exception log says what the files got wrong.
// A second run changes nothing. Both programs run as the operator runs
// them, from the folder the vendra program lives in.

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/vendra/demo.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace vendra_cli {

namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(".") : self.parent_path();
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a command line, showing it and what it prints; returns its exit status.
int RunShown(DemoContext& demo, const std::string& shown, const std::string& command,
             size_t max_lines = 40) {
  demo.Verbatim("$ " + shown);
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    demo.Say("The program could not be started.");
    return -1;
  }
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  const int status = pclose(pipe);
  std::istringstream lines(output);
  std::string line, block;
  size_t count = 0;
  while (std::getline(lines, line)) {
    if (++count > max_lines) continue;
    block += line + "\n";
  }
  if (count > max_lines) block += "... (" + std::to_string(count - max_lines) + " more lines)\n";
  if (!block.empty()) demo.Verbatim(block);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int64_t Count(const std::string& table) {
  auto c = std::make_shared<platform::data::Connection>();
  c->Open("Provider=SQLite;Data Source=data;Initial Catalog=Brevane");
  auto rs = c->Execute("SELECT COUNT(*) AS N FROM " + table);
  const int64_t n = rs->Value("N").ToLong();
  c->Close();
  return n;
}

const char* const kTables[] = {"MANUFACTURER",      "PRODUCT",     "UNIT",
                               "PRODUCTCATEGORY",   "PRODUCTIDNO", "PRODUCTSBYCATEGORY"};

}  // namespace

void StepImport(DemoContext& demo) {
  const fs::path home = demo.home();
  const fs::path bin = ProgramFolder();
  const std::string prodloader = (bin / "prodloader").string();
  const std::string dtsrun = (bin / "dtsrun").string();
  const std::string data = (home / "data").string();
  const std::string exchange = (home / "exchange").string();
  const std::string logs = (home / "logs" / "import logs").string();

  demo.Say("The ERP exports its product master data as tab-separated files into the "
           "instance's exchange folder: items (tiitm001), units (tcmcs001), statistics "
           "groups (tcmcs044) and identification numbers (tdlra010). The demo's files:");
  for (const char* file : {"tiitm001", "tcmcs001", "tcmcs044", "tdlra010"}) {
    std::ifstream in(fs::path(exchange) / file, std::ios::binary);
    size_t rows = 0;
    std::string line;
    while (std::getline(in, line)) ++rows;
    demo.Show(file, std::to_string(rows) + " rows");
  }
  demo.EndTable();

  demo.Say("prodloader builds the import package and stores it on the database server - "
           "here the instance's data directory. Switches are case-sensitive (/ver:9 is "
           "ignored), a quoted value may hold blanks, and a later switch wins (the second "
           "/USER:):");
  const std::string args = "/DBSERVER:" + data + " /KELMOR:Kelmor /BREVANE:Brevane /VER:4c /ver:9 "
                           "/LOG:\"" + logs + "\" /EXCHANGE:" + exchange + " /USER:import /USER:sa";
  RunShown(demo, "prodloader " + args,
           Quote(prodloader) + " /DBSERVER:" + Quote(data) +
               " /KELMOR:Kelmor /BREVANE:Brevane /VER:4c /ver:9 " + Quote("/LOG:\"" + logs + "\"") +
               " /EXCHANGE:" + Quote(exchange) + " /USER:import /USER:sa");

  std::vector<int64_t> before;
  for (const char* table : kTables) before.push_back(Count(table));
  demo.Say("dtsrun loads the latest version of the package and runs its ten steps in their "
           "order; the package log (Masterlog.txt) is echoed on the terminal:");
  const std::string run = Quote(dtsrun) + " --server " + Quote(data) + " --name Prodloader_4c_Kelmor";
  const int status = RunShown(demo, "dtsrun --server " + data + " --name Prodloader_4c_Kelmor", run);
  demo.Show("exit status", std::to_string(status));
  demo.EndTable();

  demo.Say("The catalogue tables before and after the run:");
  for (size_t i = 0; i < std::size(kTables); ++i)
    demo.Show(kTables[i], std::to_string(before[i]) + " -> " + std::to_string(Count(kTables[i])));
  demo.EndTable();

  demo.Say("The exception log (ExceptionLog.txt in the package's log folder) reports each "
           "case the files hold: severity 0 rows were stored all the same, severity 1 rows "
           "were skipped:");
  {
    std::ifstream in(fs::path(logs) / "Prodloader_4c_Kelmor" / "ExceptionLog.txt", std::ios::binary);
    std::string line, block;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      block += line + "\n";
    }
    demo.Verbatim(block);
  }

  demo.Say("The shop's catalogue component now serves the imported products, item "
           "IT-00001 among them:");
  {
    auto c = std::make_shared<platform::data::Connection>();
    c->Open("Provider=SQLite;Data Source=data;Initial Catalog=Brevane");
    auto rs = c->Execute("SELECT PRODUCTID FROM PRODUCT WHERE PARTNUMBER = ?",
                         {platform::Variant("IT-00001")});
    const std::string sku = rs->Eof() ? "0" : rs->Value("PRODUCTID").ToString();
    c->Close();
    demo.ShowCall("Brevane.Product", "GetProductProperties", {sku});
  }

  demo.Say("Running the package again changes nothing: every row is found by its key and "
           "updated with the same values, every product is already in its category:");
  RunShown(demo, "dtsrun --server " + data + " --name Prodloader_4c_Kelmor", run + " | grep 'rows,'");

  demo.Say("A package that is not stored is a clear error and exit status 2:");
  const int missing = RunShown(demo, "dtsrun --server " + data + " --name Prodloader_5_Kelmor",
                               Quote(dtsrun) + " --server " + Quote(data) + " --name Prodloader_5_Kelmor");
  demo.Show("exit status", std::to_string(missing));
  demo.EndTable();
}

}  // namespace vendra_cli
