// Shared main of every test executable: APR is started once for the whole run.
#include <apr_general.h>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
  apr_initialize();
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  apr_terminate();
  return result;
}
