// Builds the product-import package from prodloader's settings: its name,
// settings and global variables, the thirteen connections (catalogs of the
// database server DbServer and the export files in SchemeFolder), the ten
// steps with their precedence, and the ten tasks with their statements,
// lookups and transformation scripts; and stores it on DbServer.
//
// On this platform a database server is an instance's data directory and a
// catalog a database file in it, so DbServer is that directory, KelmorDb
// and BrevaneDb name data/<catalog>.db. The embedded databases have no
// logins: DbUser and DbPwd are kept in the package's connections and the
// store's record as given, and checked by nothing.
//
// Thread-safety: plain functions.
#pragma once

#include "import/command_line.h"
#include "platform/dts/package.h"
#include "platform/dts/package_store.h"

namespace prodloader {

// Relative folders and the server are taken against the working directory,
// so the package runs the same from wherever it is started.
platform::dts::Package BuildPackage(const Settings& settings);

// Builds the package and stores it on settings.DbServer; raises (ComError)
// when the server does not exist or the store fails (nothing is stored).
platform::dts::PackageVersion StorePackage(const Settings& settings);

}  // namespace prodloader
