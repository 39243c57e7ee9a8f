// A corpus of the SQL statements the test suites run, for the differential
// test of automatic parameterisation. With VENDRA_SQL_CORPUS naming a folder,
// the test main records every statement a suite runs through the SQLite
// driver (catalog, canonical text, bound values) into <folder>/<pid>.jsonl,
// one JSON object a line; ReadCorpus reads every such file back.
//
// Thread-safety: recording may happen on any thread (lines are written under
// a lock); reading is for one thread.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/data/sqlite/sqlite_driver.h"

namespace vendra_test {

// Starts recording when VENDRA_SQL_CORPUS is set; does nothing otherwise.
void RecordSqlCorpusFromEnvironment();

std::vector<platform::data::sqlite::RecordedStatement> ReadSqlCorpus(const std::filesystem::path& folder);

}  // namespace vendra_test
