#ifndef KVO_KVO_INFORMATION_H_
#define KVO_KVO_INFORMATION_H_

#include "kvo/kvo_export.h"

#endif  // KVO_KVO_INFORMATION_H_
