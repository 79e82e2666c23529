#include "updater/src/commands.h"

#include <apr_strings.h>
#include <apr_time.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "updater/src/commands_update.h"
#include "updater/src/help.h"
#include "updater/src/quarn.h"

namespace {

const char kSender[] = "Quarn";
const char kProductNumber[] = "ZNT 402 1188/01";
const char kRevision[] = "R5E08";
const unsigned int kDefaultBaud = 115200;
const unsigned int kDefaultAtTimeout = 10;
// Room for the SIM lock text and the compare texts of imsi and conf.
const int kTextSize = 80;

// The Win32 device namespace prefix that a port value naming a COM port gets.
const char kDeviceNamespacePrefix[] = "\\\\.\\";

char report_file_name[255];
// The log file named last.
std::string log_in_use;

struct ResultText {
  int code;
  const char* text;
};

const ResultText kResultTexts[] = {
    {kQuarnParameterError, "%d - Parameter error"},
    {kQuarnCompareError, "%d - Parameter verification failed"},
    {kQuarnUnableToOpenDevice, "%d - Unable to open device"},
    {kQuarnUnableToFindDevice, "%d - Unable to find device"},
    {kQuarnModeNotSupported, "%d - Mode type not supported"},
    {kQuarnUnableToOpenFile, "%d - Unable to open file"},
    {kQuarnUnableToReadFile, "%d - Unable to read file"},
    {kQuarnUnableToAllocateMemory, "%d - Unable to allocate memory"},
    {kQuarnOperatorNotFound, "%d - Operator not found in container"},
    {kQuarnSimLockNotFound, "%d - Simlock not found in container"},
    {kQuarnCustomizationNotFound, "%d - Customization not found in container"},
    {kQuarnUpdatePathNotFound,
     "%d - The specified revision was not found in the update container."},
    {kQuarnNoUpdatePathsNotFound, "%d - No update paths found in container."},
    {kQuarnUnableToReadPlatformParameter, "%d - Could not read platform parameter."},
    {kQuarnCommandNotSupportedByDevice, "%d - Command not supported by current device type."},
};

bool IsHelpOption(int option) {
  return option == 'h' || option == '?';
}

// A fresh option parser over a handler's own words; parsing starts after the command word.
apr_getopt_t* HandlerOptions(const CommandParameters* parameters) {
  apr_getopt_t* options = nullptr;
  if (apr_getopt_init(&options, quarn_pool, parameters->argc, parameters->argv) != APR_SUCCESS) {
    return nullptr;
  }
  return options;
}

// For the handlers without value options: only the first parser result counts. True when it
// asked for help, which has then been shown.
bool FirstOptionAskedForHelp(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  if (options == nullptr) return false;
  char option = 0;
  const char* argument = nullptr;
  if (apr_getopt(options, "h?", &option, &argument) == APR_SUCCESS && IsHelpOption(option)) {
    Help(parameters->argv[0]);
    return true;
  }
  return false;
}

// Compares `value` with `expected` over the length of `expected`, so that the expected text is a
// prefix. A value that could not be read never matches.
bool PrefixMatches(bool value_read, const char* value, const char* expected) {
  return value_read && strncmp(value, expected, strlen(expected)) == 0;
}

// Appends one Pass/Fail report to the file named by -o; a file that cannot be opened gives no
// report.
void WriteTestLog(const char* file_name, const char* command_word, int command_result) {
  apr_file_t* file = nullptr;
  if (apr_file_open(&file, file_name, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_APPEND,
                    APR_OS_DEFAULT, quarn_pool) != APR_SUCCESS) {
    return;
  }
  // A failed command fails the report with its own result: its library calls may all have
  // succeeded (a compare error, bad options, an output file that cannot be written). Otherwise the
  // last library result the handler left decides.
  const int verdict = command_result != kQuarnResultSuccess ? command_result : result;
  apr_file_printf(file, "\n\r\n\rOrvane Tarvik Module\n\r");
  apr_file_printf(file, "%s", verdict == kKvoResultSuccess ? "Pass\n\r" : "Fail\n\r");
  apr_file_printf(file, "OS: WIN ver=%04x\n\r", 0x0400);
  result = KvoDeviceGetModel(handle, &model);
  if (result == kKvoResultSuccess) {
    KvoRevision revision;
    memset(revision, 0, sizeof(revision));
    KvoGetRevision(&revision);
    char time_stamp[APR_CTIME_LEN];
    apr_ctime(time_stamp, apr_time_now());
    apr_file_printf(file, "KVO: %s\n\r", revision);
    apr_file_printf(file, "Source: Orvane\n\r");
    apr_file_printf(file, "Unit Under Test: 3G MODEM\n\r");
    apr_file_printf(file, "Module: %s\n\r", model);
    apr_file_printf(file, "Revision: %s\n\r", version_string);
    apr_file_printf(file, "Test Name: %s\n\r", command_word);
    apr_file_printf(file, "Error #: %d\n\r", verdict);
    apr_file_printf(file, "Time Stamp: %s\n\r", time_stamp);
  }
  apr_file_close(file);
}

// Opens the device named by -t, or the first listed device that opens. 0, a library result, or
// 1002/1003.
int OpenDevice(bool port_given, unsigned int baud) {
  if (port_given) {
    KvoLogInfo(kSender, "Serial device specified (%s)", device_open_parameters.device_name);
    device_open_parameters.baud = baud;
    result = KvoDeviceOpen(&device_open_parameters, &handle);
    return result == kKvoResultSuccess ? kQuarnResultSuccess : kQuarnUnableToOpenDevice;
  }

  KvoLogInfo(kSender, "Serial device not specified, Searching...");
  size_t count = 0;
  device_list = nullptr;
  result = KvoDeviceGetList(&device_list, &count);
  if (result != kKvoResultSuccess) return result;
  if (count == 0) {
    KvoLogError(kSender, "No devices found.");
    KvoDeviceReleaseList(device_list);
    device_list = nullptr;
    return kQuarnUnableToFindDevice;
  }
  for (size_t i = 0; i < count; ++i) {
    KvoLogInfo(kSender, "Opening device: %s (%d)\n\r", device_list[i], static_cast<int>(i));
    apr_cpystrn(device_open_parameters.device_name, device_list[i],
                sizeof(device_open_parameters.device_name));
    device_open_parameters.baud = baud;
    result = KvoDeviceOpen(&device_open_parameters, &handle);
    if (result == kKvoResultSuccess) {
      KvoDeviceReleaseList(device_list);
      device_list = nullptr;
      return kQuarnResultSuccess;
    }
    KvoLogError(kSender, "Unable to open device: %s (%d)\n\r", device_list[i], static_cast<int>(i));
  }
  KvoLogError(kSender, "Unable to open any devices found.");
  KvoDeviceReleaseList(device_list);
  device_list = nullptr;
  return kQuarnUnableToOpenDevice;
}

}  // namespace

char quarn_filename[255];
char version_string[64];
KvoDeviceOpenParameters device_open_parameters;
KvoDeviceHandle handle;
KvoResult result;
KvoDevicePlatformType platform_type = kKvoDevicePlatformTypeInvalid;
char pin_code[5];
KvoDeviceModel model = "Unknown";
KvoDeviceName* device_list;

const QuarnCommandRow functions[] = {
    {"conf", QuarnCommandConf},           {"imsi", QuarnCommandImsi},
    {"imei", QuarnCommandImei},           {"iccid", QuarnCommandIccid},
    {"fwupdate", QuarnCommandFwUpdate},   {"fwupdate-path", QuarnCommandFwUpdatePath},
    {"devinfo", QuarnCommandDevInfo},     {"gethplmn", QuarnCommandGetHplmn},
    {"sendatcmd", QuarnCommandSendAtCmd}, {nullptr, nullptr},
};

void QuarnPrint(const char* format, ...) {
  if (quarn_quiet || quarn_stdout == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0) {
    std::vector<char> text(static_cast<size_t>(length) + 1);
    vsnprintf(text.data(), text.size(), format, arguments);
    apr_size_t written = 0;
    apr_file_write_full(quarn_stdout, text.data(), static_cast<apr_size_t>(length), &written);
  }
  va_end(arguments);
}

void QuarnSetLog(const char* value) {
  if (strcmp(value, "stdout") == 0) {
    KvoSetLogTypesForScreen(kKvoLogTypeMaskAll);
    return;
  }
  // The program opens the log before the command interface reads the same name again: one
  // banner, one warning.
  if (log_in_use == value) return;
  log_in_use = value;
  if (KvoSetLogFile(value) != kKvoResultSuccess) {
    QuarnPrint("\r\nWarning! The log file %s cannot be opened. The run goes on without it.\r\n",
               value);
  }
}

void GetQuarnCommands(QuarnCommands* list) {
  size_t i = 0;
  for (; functions[i].command_name != nullptr; ++i) {
    apr_cpystrn(list[i].command_name, functions[i].command_name, sizeof(list[i].command_name));
  }
  list[i].command_name[0] = '\0';
}

void ConvertResult2String(char* result_text, int result_size, int result_code) {
  if (result_text == nullptr || result_size <= 0) return;
  memset(result_text, 0, static_cast<size_t>(result_size));
  const char* text = "%d - Unknown error";
  for (const ResultText& entry : kResultTexts) {
    if (entry.code == result_code) {
      text = entry.text;
      break;
    }
  }
  apr_snprintf(result_text, static_cast<apr_size_t>(result_size), text, result_code);
}

int CommandInterface(apr_getopt_t* command_arguments) {
  memset(report_file_name, 0, sizeof(report_file_name));
  memset(pin_code, 0, sizeof(pin_code));
  apr_cpystrn(quarn_filename, command_arguments->argv[0], sizeof(quarn_filename));
  apr_snprintf(version_string, sizeof(version_string), "%s %s", kProductNumber, kRevision);
  unsigned int baud = kDefaultBaud;
  int index = 1;
  bool port_given = false;

  // Only separate words are counted: an option with its value attached ("-b115200") moves the
  // command word one place too far, and the run ends in the help.
  char option = 0;
  const char* value = nullptr;
  while (apr_getopt(command_arguments, "h?b:d:l:t:o:p:q", &option, &value) == APR_SUCCESS) {
    switch (option) {
      case 'h':
      case '?':
        Help(nullptr);
        return kQuarnResultSuccess;
      case 'b':
        baud = static_cast<unsigned int>(atoi(value));
        index += 2;
        break;
      case 'd':
        QuarnSetLog(value);
        index += 2;
        break;
      case 'l':
        KvoSetLogTypesForFile(static_cast<KvoLogTypeMask>(atoi(value)));
        index += 2;
        break;
      case 't':
        if (strstr(value, "COM") != nullptr) {
          apr_snprintf(device_open_parameters.device_name,
                       sizeof(device_open_parameters.device_name), "%s%s", kDeviceNamespacePrefix,
                       value);
        } else {
          apr_cpystrn(device_open_parameters.device_name, value,
                      sizeof(device_open_parameters.device_name));
        }
        port_given = true;
        index += 2;
        break;
      case 'o':
        apr_cpystrn(report_file_name, value, sizeof(report_file_name));
        index += 2;
        break;
      case 'p':
        apr_cpystrn(pin_code, value, sizeof(pin_code));
        index += 2;
        break;
      case 'q':
        quarn_quiet = true;
        index += 1;
        break;
      default:
        break;
    }
  }

  QuarnPrint("Welcome to the Tarvik Module Updater (%s)\r\n", version_string);

  const int argc = command_arguments->argc;
  if (argc <= index || argc < 2) {
    Help(nullptr);
    return kQuarnParameterError;
  }

  const char* command_word = command_arguments->argv[index];
  int row = 0;
  while (functions[row].command_name != nullptr &&
         strcmp(functions[row].command_name, command_word) != 0) {
    ++row;
  }
  if (functions[row].command_name == nullptr) {
    Help(nullptr);
    return kKvoResultGeneralErrorInvalidParameter;
  }

  const int opened = OpenDevice(port_given, baud);
  if (opened != kQuarnResultSuccess) return opened;

  result = KvoDeviceGetType(handle, &platform_type);
  if (result != kKvoResultSuccess) {
    KvoDeviceClose(handle);
    return result;
  }

  KvoLogInfo(kSender, "Calling function: %d,%s\n\r", row, command_word);
  CommandParameters parameters;
  parameters.argc = argc - index;
  parameters.handle = handle;
  parameters.argv = command_arguments->argv + index;
  const int command_result = functions[row].fptr(&parameters);

  if (report_file_name[0] != '\0') WriteTestLog(report_file_name, command_word, command_result);

  // On success the device stays open until the library is terminated.
  if (command_result != kQuarnResultSuccess) KvoDeviceClose(handle);
  return command_result;
}

KvoResult HandleLocks(char* result_text, int result_size) {
  KvoDevicePinCodeState state = kKvoDevicePinCodeStateUnknown;
  KvoResult lock_result;
  if (pin_code[0] != '\0') {
    lock_result = KvoDeviceSetPinCode(handle, pin_code, &state);
    if (lock_result == kKvoResultDeviceErrorCouldNotConfirmSimUnlock) {
      apr_cpystrn(result_text, "Could not confirm SIM unlock",
                  static_cast<apr_size_t>(result_size));
      return lock_result;
    }
  } else {
    lock_result = KvoDeviceGetPinCodeState(handle, &state);
  }
  if (lock_result != kKvoResultSuccess &&
      lock_result != kKvoResultDeviceErrorCouldNotConfirmSimUnlock) {
    apr_cpystrn(result_text, "No SIM Detected", static_cast<apr_size_t>(result_size));
    return lock_result;
  }
  const char* text = "Unknown SIM Lock Detected";
  switch (state) {
    case kKvoDevicePinCodeStateUnlocked:
      text = "SIM Unlocked";
      break;
    case kKvoDevicePinCodeStatePinLocked:
      text = "SIM PIN Locked";
      break;
    case kKvoDevicePinCodeStatePukLocked:
      text = "SIM PUK Locked";
      break;
    case kKvoDevicePinCodeStatePHNETLocked:
      text = "PH-NET Locked";
      break;
    case kKvoDevicePinCodeStatePHNETSUBLocked:
      text = "PH-NETSUB Locked";
      break;
    case kKvoDevicePinCodeStatePHSPLocked:
      text = "PH-SP Locked";
      break;
    case kKvoDevicePinCodeStatePHCORPLocked:
      text = "PH-CORP Locked";
      break;
    case kKvoDevicePinCodeStatePHSIMLocked:
      text = "PH-SIM Locked";
      break;
    case kKvoDevicePinCodeStatePHESLLocked:
      text = "PH-ESL Locked";
      break;
    default:
      break;
  }
  apr_cpystrn(result_text, text, static_cast<apr_size_t>(result_size));
  return lock_result;
}

QuarnCommandResult QuarnCommandDevInfo(const CommandParameters* parameters) {
  if (FirstOptionAskedForHelp(parameters)) return kQuarnResultSuccess;

  const KvoDeviceHandle device = parameters->handle;
  const bool brem = platform_type == kKvoDevicePlatformTypeBrem;
  const bool configuration_set =
      platform_type == kKvoDevicePlatformTypeCalt || platform_type == kKvoDevicePlatformTypeDovin;
  char value[64];

  // Each line appears only when its value could be read; a missing value drops just its line.
  auto show = [](const char* label, const char* text) {
    if (result == kKvoResultSuccess) QuarnPrint("%-24s: %s\n\r", label, text);
  };

  result = KvoDeviceGetModel(device, &model);
  show("Model", model);
  result = KvoDeviceGetImei(device, &value);
  show("IMEI Data", value);
  result = KvoDeviceGetSvn(device, &value);
  show("SVN", value);
  result = KvoDeviceGetSerialNumber(device, &value);
  show("Serial Number", value);
  result = KvoDeviceGetProductNumber(device, &value);
  show("Product Number", value);
  result = KvoDeviceGetProductRevision(device, &value);
  show("Revision", value);
  result = KvoDeviceGetFirmwareProduct(device, &value);
  show("FW Product", value);
  result = KvoDeviceGetFirmwareRevision(device, &value);
  show("FW Version", value);
  result = KvoDeviceGetFirmwareBuildDate(device, &value);
  show("FW Build Date/Time", value);
  result = KvoDeviceGetCustomizationProduct(device, &value);
  show("Cust. Product", value);
  result = KvoDeviceGetCustomizationRevision(device, &value);
  show("Cust. Version", value);
  if (brem) {
    result = KvoDeviceGetNetworkCustomizationProduct(device, &value);
    show("Network Cust. Product", value);
    result = KvoDeviceGetNetworkCustomizationRevision(device, &value);
    show("Network Cust. Version", value);
  }
  if (configuration_set) {
    result = KvoDeviceGetConfigurationSetProduct(device, &value);
    show("Conf. Set Product", value);
    result = KvoDeviceGetConfigurationSetRevision(device, &value);
    show("Conf. Set Version", value);
    KvoNetworkSetting setting = 0;
    result = KvoDeviceGetCurrentNetworkSetting(device, &setting);
    if (result == kKvoResultSuccess) {
      QuarnPrint("%-24s: %d\n\r", "Current Network Setting", static_cast<int>(setting));
    }
  }
  result = KvoDeviceGetNetworkListProduct(device, &value);
  show("Network List Product", value);
  result = KvoDeviceGetNetworkListRevision(device, &value);
  show("Network List Version", value);
  return kQuarnResultSuccess;
}

QuarnCommandResult QuarnCommandImei(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  char output_file[1024] = "";
  char option = 0;
  const char* value = nullptr;
  while (options != nullptr && apr_getopt(options, "h?o:", &option, &value) == APR_SUCCESS) {
    if (IsHelpOption(option)) {
      Help(parameters->argv[0]);
      return kQuarnResultSuccess;
    }
    if (option == 'o') apr_cpystrn(output_file, value, sizeof(output_file));
  }

  QuarnPrint("set imei=");
  KvoImei imei;
  memset(imei, 0, sizeof(imei));
  result = KvoDeviceGetImei(parameters->handle, &imei);
  if (result != kKvoResultSuccess) return result;
  QuarnPrint("%s", imei);

  if (output_file[0] != '\0') {
    // Written from the start without truncating, as the factory tools expect.
    apr_file_t* file = nullptr;
    if (apr_file_open(&file, output_file, APR_FOPEN_WRITE | APR_FOPEN_CREATE, APR_OS_DEFAULT,
                      quarn_pool) != APR_SUCCESS) {
      KvoLogError(kSender, "Unable to open output log file (%s)", output_file);
      return kQuarnUnableToOpenFile;
    }
    apr_size_t written = 0;
    apr_file_write_full(file, imei, strlen(imei), &written);
    apr_file_close(file);
  }
  return result;
}

QuarnCommandResult QuarnCommandImsi(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  char compare[kTextSize] = "";
  char option = 0;
  const char* value = nullptr;
  while (options != nullptr && apr_getopt(options, "h?c:", &option, &value) == APR_SUCCESS) {
    if (IsHelpOption(option)) {
      Help(parameters->argv[0]);
      return kQuarnResultSuccess;
    }
    if (option == 'c') apr_cpystrn(compare, value, sizeof(compare));
  }

  char lock_text[kTextSize] = "";
  HandleLocks(lock_text, sizeof(lock_text));
  KvoImsi imsi;
  memset(imsi, 0, sizeof(imsi));
  result = KvoDeviceGetImsi(parameters->handle, &imsi);
  const bool read = result == kKvoResultSuccess;
  QuarnPrint("IMSI:     %s", read ? imsi : lock_text);

  if (compare[0] != '\0' && !PrefixMatches(read, imsi, compare)) {
    QuarnPrint("  does not match: %s", compare);
    return kQuarnCompareError;
  }
  return result;
}

QuarnCommandResult QuarnCommandIccid(const CommandParameters* parameters) {
  if (FirstOptionAskedForHelp(parameters)) return kQuarnResultSuccess;

  char lock_text[kTextSize] = "";
  HandleLocks(lock_text, sizeof(lock_text));
  KvoIccid iccid;
  memset(iccid, 0, sizeof(iccid));
  result = KvoDeviceGetIccid(parameters->handle, &iccid);
  QuarnPrint("set iccid=%s", result == kKvoResultSuccess ? iccid : lock_text);
  return result;
}

QuarnCommandResult QuarnCommandGetHplmn(const CommandParameters* parameters) {
  if (FirstOptionAskedForHelp(parameters)) return kQuarnResultSuccess;

  KvoNetworkSetting setting = 0;
  result = KvoDeviceGetCurrentNetworkSetting(parameters->handle, &setting);
  if (result == kKvoResultSuccess) QuarnPrint("HPlmn = %d\n\r", static_cast<int>(setting));
  return result;
}

QuarnCommandResult QuarnCommandSendAtCmd(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  unsigned int timeout = kDefaultAtTimeout;
  char option = 0;
  const char* value = nullptr;
  while (options != nullptr && apr_getopt(options, "h?t:", &option, &value) == APR_SUCCESS) {
    if (IsHelpOption(option)) {
      Help(parameters->argv[0]);
      return kQuarnResultSuccess;
    }
    if (option == 't') timeout = static_cast<unsigned int>(atoi(value));
  }

  // Exactly the command word and one AT text: any option word makes the count wrong.
  if (parameters->argc != 2) return kQuarnParameterError;

  KvoAtResult at_result;
  at_result.result_code = kKvoAtResultNotKnown;
  at_result.data = nullptr;
  result = KvoAtSend(parameters->handle, parameters->argv[1], timeout, &at_result);
  if (result != kKvoResultSuccess) {
    KvoAtReleaseAtResult(&at_result);
    return result;
  }
  QuarnPrint("%s\n\r", at_result.data != nullptr ? at_result.data : "");
  KvoAtReleaseAtResult(&at_result);
  return result;
}

QuarnCommandResult QuarnCommandConf(const CommandParameters* parameters) {
  apr_getopt_t* options = HandlerOptions(parameters);
  char expected_imsi[kTextSize] = "";
  char expected_type[kTextSize] = "";
  bool only_hardware = false;
  char option = 0;
  const char* value = nullptr;
  while (options != nullptr && apr_getopt(options, "h?kc:t:", &option, &value) == APR_SUCCESS) {
    switch (option) {
      case 'h':
      case '?':
        Help(parameters->argv[0]);
        return kQuarnResultSuccess;
      case 'k':
        only_hardware = true;
        break;
      case 'c':
        apr_cpystrn(expected_imsi, value, sizeof(expected_imsi));
        break;
      case 't':
        apr_cpystrn(expected_type, value, sizeof(expected_type));
        break;
      default:
        break;
    }
  }

  const KvoDeviceHandle device = parameters->handle;
  KvoProductNumber product_number;
  memset(product_number, 0, sizeof(product_number));
  if (only_hardware) {
    result = KvoDeviceGetProductNumber(device, &product_number);
    if (result != kKvoResultSuccess) return result;
    QuarnPrint("%s", product_number);
    return kQuarnResultSuccess;
  }

  result = KvoDeviceGetModel(device, &model);
  if (result != kKvoResultSuccess) return result;
  QuarnPrint("%s%s", "Model:    ", model);

  KvoRevision revision;
  memset(revision, 0, sizeof(revision));
  result = KvoDeviceGetFirmwareRevision(device, &revision);
  if (result != kKvoResultSuccess) return result;
  QuarnPrint("\n\r%s%s", "FW Level: ", revision);

  KvoImei imei;
  memset(imei, 0, sizeof(imei));
  result = KvoDeviceGetImei(device, &imei);
  if (result != kKvoResultSuccess) return result;
  QuarnPrint("\n\r%s%s", "IMEI:     ", imei);

  char lock_text[kTextSize] = "";
  HandleLocks(lock_text, sizeof(lock_text));
  KvoImsi imsi;
  memset(imsi, 0, sizeof(imsi));
  result = KvoDeviceGetImsi(device, &imsi);
  const bool imsi_read = result == kKvoResultSuccess;
  QuarnPrint("\n\r%s%s", "IMSI:     ", imsi_read ? imsi : lock_text);

  QuarnCommandResult command_result = kQuarnResultSuccess;
  if (expected_imsi[0] != '\0' && !PrefixMatches(imsi_read, imsi, expected_imsi)) {
    command_result = kQuarnCompareError;
    QuarnPrint("  does not match: %s", expected_imsi);
  }

  result = KvoDeviceGetProductNumber(device, &product_number);
  if (result != kKvoResultSuccess) return result;
  QuarnPrint("\n\r%s%s", "HW Level: ", product_number);

  if (expected_type[0] != '\0' && !PrefixMatches(true, product_number, expected_type)) {
    command_result = kQuarnCompareError;
    QuarnPrint("  does not match: %s", expected_type);
  }
  return command_result;
}
