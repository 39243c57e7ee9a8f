#include "tests/support/driver_text.h"

#include <cstdlib>

namespace vendra_test {

bool OnPostgres() {
  const char* url = std::getenv("VENDRA_TEST_PG_URL");
  return url && *url;
}

std::string ServerText(std::string_view sqlite, std::string_view postgres) {
  return std::string(OnPostgres() ? postgres : sqlite);
}

}  // namespace vendra_test
