// Creates an instance: the home directory with platform.xml, config/ (the
// sales and site configuration), data/ (the databases), logs/, mail/pickup/
// and exchange/. With demo, the databases are filled with the documented demo
// shop. Refuses a directory that already holds an instance.
#pragma once

#include <filesystem>

namespace vendra_instance {

void CreateInstance(const std::filesystem::path& home, bool demo);

// Registers every component of the platform and both libraries (idempotent).
void RegisterAllComponents();

}  // namespace vendra_instance
