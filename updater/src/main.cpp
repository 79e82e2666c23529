#include "updater/src/quarn.h"

int main(int argc, char** argv) {
  return QuarnMain(argc, const_cast<const char**>(argv));
}
