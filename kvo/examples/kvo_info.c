/* Shows the library's identity: a small client of the public interface, written in C. */
#include <stdio.h>

#include "kvo.h"

static void PrintDescription(KvoResult result) {
  KvoResultDescription description;
  KvoGetResultDescription(result, &description);
  printf("  %s\n", description);
}

/* The shell sees the exit code modulo 256: a failure must never read as 0. */
static int ExitCode(KvoResult result) {
  const int code = (int)result;
  return (code != 0 && code % 256 == 0) ? 1 : code;
}

int main(void) {
  KvoVersion version = {0, 0};
  if (KvoGetApiVersion(&version) != kKvoResultSuccess || version.major != kKvoApiVersionMajor) {
    fprintf(stderr, "kvo-info: the library's API version %u.%u is not %d.x\n", version.major,
            version.minor, kKvoApiVersionMajor);
    return kKvoResultGeneralErrorApiVersionMismatch;
  }

  KvoResult result = KvoInitialize();
  if (result != kKvoResultSuccess) {
    KvoResultDescription description;
    KvoGetResultDescription(result, &description);
    fprintf(stderr, "kvo-info: the library did not start: %s\n", description);
    return ExitCode(result);
  }

  KvoRevision revision;
  KvoProductNumber product;
  KvoGetRevision(&revision);
  KvoGetProduct(&product);
  printf("KVO library API version %u.%u\n", version.major, version.minor);
  printf("Revision: %s\n", revision);
  printf("Product:  %s\n", product);
  printf("Some result descriptions:\n");
  PrintDescription(kKvoResultSuccess);
  PrintDescription(kKvoResultDeviceErrorInvalidHandle);
  PrintDescription(kKvoResultUpdateErrorNoUpdateNeeded);
  PrintDescription((KvoResult)1000);

  result = KvoTerminate();
  if (result != kKvoResultSuccess) {
    fprintf(stderr, "kvo-info: the library did not stop cleanly (%d)\n", (int)result);
  }
  return ExitCode(result);
}
