/* A client of libkvo: lists the modules, opens the first one that opens and prints its identity.
 * Build it with:  cc kvo_example.c $(pkg-config --cflags --libs kvo) -o kvo_example */
#include <kvo.h>
#include <stdio.h>
#include <string.h>

static void PrintResult(const char* what, KvoResult result) {
  KvoResultDescription description;
  KvoGetResultDescription(result, &description);
  fprintf(stderr, "%s: %s\n", what, description);
}

/* The shell sees the exit status modulo 256: a failure must never read as 0. */
static int ExitStatus(KvoResult result) {
  return (result != kKvoResultSuccess && (int)result % 256 == 0) ? 1 : (int)result % 256;
}

static KvoResult OpenFirst(KvoDeviceHandle* handle) {
  KvoDeviceName* list = NULL;
  size_t count = 0;
  KvoResult result = KvoDeviceGetList(&list, &count);
  if (result != kKvoResultSuccess) return result;
  result = kKvoResultDeviceErrorDeviceNotOpen;
  for (size_t i = 0; i < count && result != kKvoResultSuccess; ++i) {
    KvoDeviceOpenParameters parameters;
    memset(&parameters, 0, sizeof(parameters));
    snprintf(parameters.device_name, sizeof(parameters.device_name), "%s", list[i]);
    parameters.baud = 115200;
    printf("Opening %s\n", list[i]);
    result = KvoDeviceOpen(&parameters, handle);
  }
  /* The list belongs to the caller and goes back through its own release function. */
  KvoDeviceReleaseList(list);
  return result;
}

int main(void) {
  KvoVersion version = {0, 0};
  KvoGetApiVersion(&version);
  if (version.major != kKvoApiVersionMajor) {
    fprintf(stderr, "libkvo API %u.%u, this client needs %d.x\n", version.major, version.minor,
            kKvoApiVersionMajor);
    return 1;
  }
  KvoResult result = KvoInitialize();
  if (result != kKvoResultSuccess) {
    PrintResult("KvoInitialize", result);
    return ExitStatus(result);
  }

  KvoDeviceHandle handle = 0;
  result = OpenFirst(&handle);
  if (result == kKvoResultSuccess) {
    KvoDeviceModel model = "";
    KvoImei imei = "";
    KvoRevision revision = "";
    KvoDevicePlatformType platform = kKvoDevicePlatformTypeInvalid;
    KvoDeviceGetModel(handle, &model);
    KvoDeviceGetImei(handle, &imei);
    KvoDeviceGetConfigurationSetRevision(handle, &revision);
    KvoDeviceGetType(handle, &platform);
    printf("Model: %s\nIMEI: %s\nConfiguration set revision: %s\nPlatform: %d\n", model, imei,
           revision, (int)platform);

    KvoAtResult answer = {kKvoAtResultNotKnown, NULL};
    result = KvoAtSend(handle, "ATI", 5, &answer);
    if (result == kKvoResultSuccess) {
      printf("ATI (%s):\n%s\n", answer.result_code == kKvoAtResultOk ? "OK" : "not OK",
             answer.data != NULL ? answer.data : "");
      /* The answer's text is the caller's, given back with its release function. */
      KvoAtReleaseAtResult(&answer);
    }
    KvoDeviceClose(handle);
  }
  if (result != kKvoResultSuccess) PrintResult("Module", result);
  KvoTerminate();
  return ExitStatus(result);
}
