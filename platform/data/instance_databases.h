// Where an instance keeps its databases. By default each catalog is a SQLite
// file data/<Catalog>.db under the instance home, and components open it as
// "Provider=SQLite;Data Source=data;Initial Catalog=<Catalog>". An instance
// made with its databases on a PostgreSQL server lists them in platform.xml:
//
//   <databases server="postgresql://vendra@db.example:5432/shop1">
//     <database catalog="Vendra" connectionstring="Provider=PostgreSQL;..."/>
//     ...
//   </databases>
//
// and every connection string that names a catalog of the instance's data
// folder (the relative "data" or the folder's full path) is opened with the
// listed connection string instead, so no component needs to know which
// driver the instance uses.
//
// Thread-safety: any thread; the list read from platform.xml is cached per
// instance home under a lock.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "platform/data/driver.h"

namespace platform::data {

// The <database> entries of a platform.xml (catalog -> connection string);
// empty when the file has none or cannot be read.
std::map<std::string, std::string> ReadInstanceDatabases(const std::filesystem::path& platform_file);

// When settings name a catalog of the current instance's data folder that
// the instance keeps on a server, stores that catalog's connection string in
// *connection_string and returns true.
bool InstanceDatabaseFor(const ConnectionSettings& settings, std::string* connection_string);

// Forgets the cached list (after platform.xml was written).
void ForgetInstanceDatabases();

}  // namespace platform::data
