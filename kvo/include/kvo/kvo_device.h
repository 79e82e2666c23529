#ifndef KVO_KVO_DEVICE_H_
#define KVO_KVO_DEVICE_H_

#include "kvo/kvo_export.h"

#endif  // KVO_KVO_DEVICE_H_
