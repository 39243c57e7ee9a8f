// The test main: every component is registered once before any suite runs.
#include <gtest/gtest.h>

#include "apps/instance/instance_setup.h"
#include "tests/support/sql_corpus.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  vendra_instance::RegisterAllComponents();
  vendra_test::RecordSqlCorpusFromEnvironment();
  return RUN_ALL_TESTS();
}
