#ifndef KVO_H_
#define KVO_H_

// The module-control library's public interface: the one header that clients include. It compiles
// as C and as C++; every function has C linkage.

#include "kvo/kvo_export.h"
#include "kvo/kvo_common.h"
#include "kvo/kvo_device.h"
#include "kvo/kvo_information.h"
#include "kvo/kvo_at.h"
#include "kvo/kvo_custom.h"
#include "kvo/kvo_update.h"

#endif  // KVO_H_
