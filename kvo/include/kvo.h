#ifndef KVO_H_
#define KVO_H_

// The module-control library's public interface: the one header that clients include. It compiles
// as C and as C++; every function has C linkage.
//
// Conventions of every function declared under it, unless a function says otherwise:
// - The result is a KvoResult; kKvoResultSuccess is the only success. Results are named by their
//   enumerators (kvo/kvo_common.h).
// - [in] parameters are read, [out] parameters written. Text outputs are caller-owned char[64]
//   buffers that receive zero-terminated text cut to 63 characters. Lists and texts that the
//   library allocates belong to the caller afterwards, who gives each back with the Release
//   function named at its getter; every Release function accepts a null pointer.
// - A required pointer that is null gives kKvoResultGeneralErrorInvalidParameter.
// - "Handle results": a function that works on an opened module first checks the handle:
//   kKvoResultGeneralErrorNotInitialized before KvoInitialize; kKvoResultDeviceErrorInvalidHandle
//   for a handle above 9, closed, or whose module was not identified;
//   kKvoResultGeneralErrorDeviceNotOpen when the port went away (the handle stays invalid until
//   it is reopened).
// - "AT-mode results": a function that needs the module's AT command set first takes a module
//   out of ITP mode (the module restarts and is identified again). Besides the handle results,
//   that can give kKvoResultDeviceErrorSettingItpMode.
// - kKvoResultGeneralErrorAtError: an AT command could not be exchanged with the module (the
//   transport's reason is logged), or the module answered it with ERROR where OK was needed.
// - The device table has no lock: call the library from one thread. Callbacks say on which thread
//   they run.

#include "kvo/kvo_at.h"
#include "kvo/kvo_common.h"
#include "kvo/kvo_custom.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_export.h"
#include "kvo/kvo_information.h"
#include "kvo/kvo_radio.h"
#include "kvo/kvo_update.h"

#endif  // KVO_H_
