#ifndef KVO_SRC_AT_AT_H_
#define KVO_SRC_AT_AT_H_

#include "kvo.h"

// Removes a listener registered with KvoAtRegisterCallback. Hidden in the shared library.
KvoResult KvoAtUnregisterCallback(KvoDeviceHandle handle, KvoAtUnsolicitedCallback* callback);

#endif  // KVO_SRC_AT_AT_H_
