#include "updater/src/help.h"

#include <string.h>

#include <vector>

#include "updater/src/commands.h"
#include "updater/src/quarn.h"

namespace {

// Value lists: one value per line, indented by three blanks, the colon before the meaning in
// column 29.
#define HELP_RADIO_MODES_GSM                       \
  "   0                        : GSM  900 MHz\n\r" \
  "   1                        : GSM 1900 MHz\n\r" \
  "   2                        : GSM 1800 MHz\n\r" \
  "   3                        : GSM  850 MHz\n\r"
#define HELP_RADIO_MODES_WCDMA                                      \
  "   4                        : Operating band I (2100 MHz)\n\r"   \
  "   5                        : Operating band II (1900 MHz)\n\r"  \
  "   6                        : Operating band III (1800 MHz)\n\r" \
  "   7                        : Operating band IV (1700 MHz)\n\r"  \
  "   8                        : Operating band V (850 MHz)\n\r"    \
  "   9                        : Operating band VI (800 MHz)\n\r"   \
  "   10                       : Operating band VII (2600 MHz)\n\r" \
  "   11                       : Operating band VIII (900 MHz)\n\r" \
  "   12                       : Operating band IX (1800 MHz)\n\r"
#define HELP_CHANNELS_GSM                                 \
  "   0                        : 0...124, 975...1023\n\r" \
  "   1                        : 512...810\n\r"           \
  "   2                        : 512...885\n\r"           \
  "   3                        : 128...251\n\r"
#define HELP_CHANNELS_WCDMA_RX                         \
  "   4                        : RX 10562...10838\n\r" \
  "   5                        : RX 9662...9938\n\r"   \
  "   6                        : RX 1162...1513\n\r"   \
  "   7                        : RX 1537...1738\n\r"   \
  "   8                        : RX 4357...4458\n\r"   \
  "   9                        : RX 4387...4413\n\r"   \
  "   10                       : RX 2237...2563\n\r"   \
  "   11                       : RX 2937...3088\n\r"   \
  "   12                       : RX 9237...9387\n\r"
#define HELP_CHANNELS_WCDMA_TX                       \
  "   4                        : TX 9612...9888\n\r" \
  "   5                        : TX 9262...9538\n\r" \
  "   6                        : TX 937...1288\n\r"  \
  "   7                        : TX 1312...1513\n\r" \
  "   8                        : TX 4132...4233\n\r" \
  "   9                        : TX 4162...4188\n\r" \
  "   10                       : TX 2012...2338\n\r" \
  "   11                       : TX 2712...2863\n\r" \
  "   12                       : TX 8762...8912\n\r"
#define HELP_RECEIVE_MODES                                              \
  "   0 (default)              : Main and diversity active\n\r"         \
  "   1                        : Main active, diversity not active\n\r" \
  "   2                        : Main not active, diversity active"

const char kHelpRssi[] =
    "%s -m mode -c start channel[:end channel] [-a] [-p path] [-s stepsize] [-n number of "
    "samples] [-t target] [-w window] [-d delta] [-g gain]\n\r\n\r"
    "Measure the rssi values\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_GSM HELP_RADIO_MODES_WCDMA
    "c: Start channel and optional end channel\n\r" HELP_CHANNELS_GSM HELP_CHANNELS_WCDMA_RX
    "a: Asynchronous measurement\n\r"
    "p: Diversity path\n\r"
    "   0 (default)              : Main receiver path only\n\r"
    "   2                        : Both receiver paths\n\r"
    "s: Step size in channels\n\r"
    "n: Number of samples (default 100)\n\r"
    "t: Target (only negative values, needs a window)\n\r"
    "w: Window (only positive values, smaller than twice the target, needs a target)\n\r"
    "d: Delta between the two antennas (only positive values)\n\r"
    "g: Gain of the GSM receiver";

const char kHelpGps[] =
    "%s  -m mode [-i SVN] [-s signal strength target] [-w signal strength window] [-n SNR "
    "target] [-a SNR window]\n\r\n\r"
    "Run a GPS test\n\r"
    "m: Test mode\n\r"
    "   1                        : Single satellite test mode.\n\r"
    "   2                        : Carrier Wave test mode.\n\r"
    "i: SVN 1..32 (default 27)\n\r"
    "s: Signal strength target\n\r"
    "w: Signal strength window\n\r"
    "n: SNR target\n\r"
    "a: SNR window";

const char kHelpSetContinuousTxSine[] =
    "%s -m mode -c channel [-o modulation] [-p powerPosition]\n\r\n\r"
    "Turn Continuous TX on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_WCDMA "c: Channel\n\r" HELP_CHANNELS_WCDMA_TX
    "o: Modulation\n\r"
    "   0 (default)              : Sinus modulation\n\r"
    "   1                        : WCDMA modulation\n\r"
    "p: Power position 0..85 (default 85)";

const char kHelpSetContinuousTxSquare[] =
    "%s -m mode -c channel [-o modulation] [-p powerPosition]\n\r\n\r"
    "Turn Continuous TX on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_WCDMA "c: Channel\n\r" HELP_CHANNELS_WCDMA_TX
    "o: Modulation\n\r"
    "   0 (default)              : Square wave modulation\n\r"
    "   1                        : WCDMA modulation\n\r"
    "p: Power position 0..85 (default 85) for square wave modulation,\n\r"
    "   0..23 dBm (default 23) for WCDMA modulation";

const char kHelpSetStaticTxPlain[] =
    "%s -m mode -c channel\n\r\n\r"
    "Turn Static TX on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_GSM "c: Channel\n\r" HELP_CHANNELS_GSM;

const char kHelpSetStaticTxModulated[] =
    "%s -m mode -c channel [-o modulation].\n\r\n\r"
    "Turn Static TX on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_GSM "c: Channel\n\r" HELP_CHANNELS_GSM
    "o: Modulation\n\r"
    "   0 (default)              : Modulated GSM/GPRS carrier\n\r"
    "   1                        : EDGE";

const char kHelpSetSwitchedTxPlain[] =
    "%s -m mode -c channel\n\r\n\r"
    "Turn Switched TX on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_GSM "c: Channel\n\r" HELP_CHANNELS_GSM;

const char kHelpSetSwitchedTxModulated[] =
    "%s -m mode -c channel [-o modulation] [-t swtx mode]\n\r\n\r"
    "Turn switched tx on\n\r"
    "m: Radio mode\n\r" HELP_RADIO_MODES_GSM "c: Channel\n\r" HELP_CHANNELS_GSM
    "o: Modulation\n\r"
    "   0 (default)              : Modulated GSM/GPRS carrier\n\r"
    "   1                        : EDGE\n\r"
    "t: Switched TX mode (default 0)";

// A word's text; `modulated` is the form for the platforms whose transmitter takes a modulation
// (Calt, Dovin), null when the text is the same everywhere.
struct HelpEntry {
  const char* command;
  const char* plain;
  const char* modulated;
};

// Looked up in this order.
const HelpEntry kHelpTexts[] = {
    {"conf",
     "%s [-c imsi] [-t type] [-k]\n\r\n\rPrints out some general information from the "
     "module\n\rc: Compares imsi with SIM imsi\n\rt: Compares type with Module HW\n\rk: Only "
     "prints Module HW",
     nullptr},
    {"imsi",
     "%s [-c imsi]\n\r\n\rPrints out the imsi value from the SIM\n\rc: Compares imsi with SIM imsi",
     nullptr},
    {"imei",
     "%s [-o file]\n\r\n\rPrints out the imei value from the module\n\ro: Prints imei value to "
     "file",
     nullptr},
    {"iccid", "%s\n\r\n\rPrints out the iccid value from the SIM", nullptr},
    {"ledon", "%s\n\r\n\rTurn on the WWAN led", nullptr},
    {"ledoff", "%s\n\r\n\rTurn off the WWAN led", nullptr},
    {"rssi", kHelpRssi, nullptr},
    {"gps", kHelpGps, nullptr},
    {"sendatcmd", "%s \"AT string\"\n\r\n\rSends AT command to the module", nullptr},
    {"list-operator", "%s\n\r\n\rList available operators", nullptr},
    {"set-operator", "%s -s operator\n\r\n\rSets the network domain to a specific operator",
     nullptr},
    {"list-subdomain", "%s\n\r\n\rList available subdomains", nullptr},
    {"set-subdomain", "%s -s subdomain\n\r\n\rSets the subdomain", nullptr},
    {"list-customization", "%s\n\r\n\rList available module customizations", nullptr},
    {"set-customization", "%s -c customization-id\n\r\n\rSets the module customization", nullptr},
    {"list-simlocks", "%s\n\r\n\rList available SIMLocks", nullptr},
    {"set-simlock", "%s -i lock-id | -d lock-description\n\r\n\rSets the SIMLock", nullptr},
    {"verify-simlock",
     "%s [-i lock-id | -d lock description]\n\r\n\rWithout parameters: Verify if the module is "
     "locked\n\rWith parameters:    Compare SIMLock activated in module with supplied lock in "
     "container",
     nullptr},
    {"list-networklist", "%s\n\r\n\rList available Network list configurations", nullptr},
    {"set-networklist", "%s -i <network list id>\n\r\n\rSets the network list", nullptr},
    {"fwupdate", "%s filename\n\r\n\rPerforms firmware update process on the module", nullptr},
    {"fwupdate-path",
     "%s filename\n\r\n\rList all the available update paths in the specified container.", nullptr},
    {"sendassignment",
     "%s [-s] -f filename\n\r\n\rs: Strips the assignment header\n\rSends Assignment file to the "
     "module",
     nullptr},
    {"setcontinuoustx", kHelpSetContinuousTxSine, kHelpSetContinuousTxSquare},
    {"setstatictx", kHelpSetStaticTxPlain, kHelpSetStaticTxModulated},
    {"setswitchedtx", kHelpSetSwitchedTxPlain, kHelpSetSwitchedTxModulated},
    {"shutdowntx", "%s\n\r\n\rTurn Continuous TX off", nullptr},
    {"devinfo", "%s\n\r\n\rPrints additional Module information", nullptr},
    {"gethplmn", "%s\n\r\n\rPrints the detected USIM HPLMN number", nullptr},
    {"set-receivemode",
     "%s\n\r\n\rSet the antenna configuration\n\rm: Receive mode\n\r" HELP_RECEIVE_MODES, nullptr},
    {"get-receivemode",
     "%s\n\r\n\rGet the antenna configuration\n\rReturns the receive mode.\n\r" HELP_RECEIVE_MODES,
     nullptr},
};

const char kHelpOptions[] =
    "[options] cmd [cmd_params]\n\r\n\rOptions: [-h] [-t port] [-b baud] [-d file] [-l lvl] [-p "
    "pin] [-q] [-o file]\n\r  h,?: Displays help information\n\r  t  : Set serial port\n\r  b  : "
    "Set baud rate\n\r  d  : Set debug output file\n\r  l  : Set debug level [0..31]\n\r  p  : "
    "Set PIN\n\r  q  : Quiet mode\n\r  o  : Set log output file\r\n\r\n";

// Room for the words of the command table and the end entry.
constexpr size_t kHelpCommandListSize = 512;

bool Matches(const char* command, const char* const* words) {
  for (; *words != nullptr; ++words) {
    if (strcmp(command, *words) == 0) return true;
  }
  return false;
}

}  // namespace

bool HelpCommandAvailable(const char* command) {
  static const char* const kOperatorWords[] = {"list-operator", "set-operator", nullptr};
  static const char* const kSimlockWords[] = {"list-simlocks", "set-simlock", "verify-simlock",
                                              nullptr};
  static const char* const kCustomizationWords[] = {"list-customization", "set-customization",
                                                    nullptr};
  static const char* const kSubDomainWords[] = {"list-subdomain", "set-subdomain", nullptr};
  static const char* const kReceiveModeWords[] = {"set-receivemode", "get-receivemode", nullptr};

  size_t size = 0;
  if (Matches(command, kOperatorWords)) {
    KvoCustomOperatorDomainData* list = nullptr;
    if (KvoCustomOperatorDomainGetList(&list, &size) != kKvoResultSuccess) return false;
    KvoCustomOperatorDomainReleaseList(list);
  } else if (Matches(command, kSimlockWords)) {
    KvoCustomSimLockData* list = nullptr;
    if (KvoCustomSimlocksGetList(&list, &size) != kKvoResultSuccess) return false;
    KvoCustomSimlocksReleaseList(list);
  } else if (Matches(command, kCustomizationWords)) {
    KvoCustomCustomizationData* list = nullptr;
    if (KvoCustomCustomizationList(&list, &size) != kKvoResultSuccess) return false;
    KvoCustomCustomizationReleaseList(list);
  } else if (Matches(command, kSubDomainWords)) {
    KvoCustomSubDomainData* list = nullptr;
    if (KvoCustomSubDomainList(&list, &size) != kKvoResultSuccess) return false;
    KvoCustomSubDomainReleaseList(list);
  } else if (Matches(command, kReceiveModeWords)) {
    KvoCustomPlatformParameterData* list = nullptr;
    if (KvoCustomPlatformParameterGetList(&list, &size) != kKvoResultSuccess) return false;
    KvoCustomPlatformParameterReleaseList(list);
  }
  return true;
}

const char* HelpText(const char* command, KvoDevicePlatformType platform) {
  for (const HelpEntry& entry : kHelpTexts) {
    if (strcmp(command, entry.command) != 0) continue;
    const bool modulated =
        platform == kKvoDevicePlatformTypeCalt || platform == kKvoDevicePlatformTypeDovin;
    return modulated && entry.modulated != nullptr ? entry.modulated : entry.plain;
  }
  return nullptr;
}

void Help(const char* command) {
  if (quarn_quiet) return;

  std::vector<QuarnCommands> commands(kHelpCommandListSize);
  GetQuarnCommands(commands.data());
  QuarnPrint("\n\rUsage: %s ", quarn_filename);

  if (command == nullptr) {
    QuarnPrint("%s", kHelpOptions);
    QuarnPrint("Possible commands:\n\r");
    for (const QuarnCommands& entry : commands) {
      if (entry.command_name[0] == '\0') break;
      if (HelpCommandAvailable(entry.command_name)) QuarnPrint("  %s\n\r", entry.command_name);
    }
    QuarnPrint("execute %s cmd -h for help on a specific command", quarn_filename);
  } else {
    const char* text = HelpText(command, platform_type);
    QuarnPrint(text != nullptr ? text : "%s\n\r\n\rNo help available", command);
  }
  QuarnPrint("\n\r");
}
