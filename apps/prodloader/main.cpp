// prodloader: builds the product-import package from its command line and
// stores it on the database server (an instance's data directory); it does
// not run it (dtsrun does). Exit status: 0 stored, 1 no command line, 2 the
// package could not be built or stored (nothing is stored then).

#include <iostream>
#include <string>
#include <vector>

#include "import/command_line.h"
#include "import/prodloader_package.h"
#include "platform/core/com_error.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cout << "Command line arguments are not entered" << std::endl;
    return 1;
  }
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const prodloader::Settings settings =
      prodloader::ParseCommandLine(prodloader::JoinArguments(arguments));
  try {
    const auto version = prodloader::StorePackage(settings);
    std::cout << "Stored package '" << version.name << "' version " << version.version_id
              << " on " << settings.DbServer << std::endl;
    return 0;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    std::cerr << "prodloader: the package '" << settings.PackageName()
              << "' was not stored: " << e.description() << std::endl;
    return 2;
  }
}
