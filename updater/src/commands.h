#ifndef UPDATER_SRC_COMMANDS_H_
#define UPDATER_SRC_COMMANDS_H_

// The command interface: options, device search and opening, the command table and dispatch, the
// Pass/Fail test report, the front end's own result codes and their texts, and the handlers of
// the device query and configuration commands.

#include <apr_getopt.h>
#include <stddef.h>

#include "kvo.h"

// What every handler receives. argv starts at the command word; argc counts from there to the
// end of the vector.
typedef struct CommandParameters {
  int argc;
  KvoDeviceHandle handle;
  const char** argv;
} CommandParameters;

// A handler's result: kQuarnResultSuccess, a front-end code below, or a KvoResult passed through.
// Library results are all below 1000, so both share one integer space; the final value is the exit
// code.
typedef int QuarnCommandResult;
enum {
  kQuarnResultSuccess = 0,
  kQuarnParameterError = 1000,
  kQuarnCompareError = 1001,
  kQuarnUnableToOpenDevice = 1002,
  kQuarnUnableToFindDevice = 1003,
  kQuarnModeNotSupported = 1004,
  kQuarnUnableToOpenFile = 1005,
  kQuarnUnableToReadFile = 1006,
  kQuarnUnableToAllocateMemory = 1007,
  kQuarnOperatorNotFound = 1008,
  kQuarnSimLockNotFound = 1009,
  kQuarnCustomizationNotFound = 1010,
  kQuarnUpdatePathNotFound = 1011,
  kQuarnNoUpdatePathsNotFound = 1012,
  kQuarnUnableToReadPlatformParameter = 1013,
  kQuarnCommandNotSupportedByDevice = 1014
};

typedef QuarnCommandResult (*QuarnCommandFunction)(const CommandParameters* parameters);

// One row of the command table; a row with a null name ends it. The row index is logged at
// dispatch and the order is the order of the help listing.
typedef struct QuarnCommandRow {
  const char* command_name;
  QuarnCommandFunction fptr;
} QuarnCommandRow;

extern const QuarnCommandRow functions[];

// One entry of a command word list; a list ends with an entry whose first byte is 0.
typedef struct QuarnCommands {
  char command_name[64];
} QuarnCommands;

// Shared state of the front end for one run.
extern char quarn_filename[255];
extern char version_string[64];
extern KvoDeviceOpenParameters device_open_parameters;
extern KvoDeviceHandle handle;
// The result of the most recent library call of the dispatcher or a handler; the test report
// judges it.
extern KvoResult result;
extern KvoDevicePlatformType platform_type;
extern char pin_code[5];
extern KvoDeviceModel model;
extern KvoDeviceName* device_list;

// Parses the options, opens the device, runs one command and returns its result.
int CommandInterface(apr_getopt_t* command_arguments);

// Copies every command word of the table, in table order, into `list` and ends the list. The
// array must hold the table's words plus one.
void GetQuarnCommands(QuarnCommands* list);

// Clears `result_size` bytes of `result_text` and writes the text of a front-end code.
void ConvertResult2String(char* result_text, int result_size, int result_code);

// Sends the log where -d says: "stdout" puts every log type on the console, anything else names
// the log file. A file that cannot be opened gets a warning line unless quiet, and the run goes on
// without it; naming the file in use again changes nothing.
void QuarnSetLog(const char* value);

// Writes, unless quiet, to the console stream.
void QuarnPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The SIM lock text (at most result_size - 1 characters): enters the -p PIN when one was given,
// otherwise reads the PIN state.
KvoResult HandleLocks(char* result_text, int result_size);

QuarnCommandResult QuarnCommandConf(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandImsi(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandImei(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandIccid(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandDevInfo(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandGetHplmn(const CommandParameters* parameters);
QuarnCommandResult QuarnCommandSendAtCmd(const CommandParameters* parameters);

#endif  // UPDATER_SRC_COMMANDS_H_
