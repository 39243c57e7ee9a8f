// dtsrun: runs a package stored on a database server (an instance's data
// directory): dtsrun --server DIR --name NAME. Loads the latest version,
// runs its steps, writes the package log and echoes it on standard output.
// Exit status: 0 every step that ran succeeded, 1 a step failed, 2 the
// package could not be loaded or run (unknown server or name, log folder
// not writable), 3 wrong usage.

#include <iostream>
#include <string>

#include "platform/core/com_error.h"
#include "platform/dts/package_runner.h"
#include "platform/dts/package_store.h"

int main(int argc, char** argv) {
  std::string server, name;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--server" || arg == "-S") && i + 1 < argc) {
      server = argv[++i];
    } else if ((arg == "--name" || arg == "-N") && i + 1 < argc) {
      name = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: dtsrun --server DATA_DIR --name PACKAGE\n";
      return 0;
    } else {
      std::cerr << "dtsrun: unexpected argument '" << arg
                << "'\nusage: dtsrun --server DATA_DIR --name PACKAGE\n";
      return 3;
    }
  }
  if (server.empty() || name.empty()) {
    std::cerr << "usage: dtsrun --server DATA_DIR --name PACKAGE\n";
    return 3;
  }
  try {
    platform::dts::PackageStore store(server);
    platform::dts::Package package = store.LoadLatest(name);
    platform::dts::RunOptions options;
    options.echo = &std::cout;
    const auto result = platform::dts::PackageRunner(std::move(package), options).Run();
    return result.succeeded ? 0 : 1;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    std::cerr << "dtsrun: " << e.description() << "\n";
    return 2;
  }
}
