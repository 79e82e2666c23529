#ifndef UPDATER_SRC_HELP_H_
#define UPDATER_SRC_HELP_H_

// Usage texts. Help(NULL) prints the general usage with the options and the command words;
// Help(word) prints that word's usage and description. Nothing is printed in quiet mode.

#include "kvo.h"

void Help(const char* command);

// The text of a command word as shown on a platform: a format with one "%s" for the word, or
// null when the word has no entry.
const char* HelpText(const char* command, KvoDevicePlatformType platform);

// Whether the general listing shows a command word: the customization words only while their
// list can be read from the customization container, every other word always.
bool HelpCommandAvailable(const char* command);

#endif  // UPDATER_SRC_HELP_H_
