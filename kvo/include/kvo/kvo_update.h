#ifndef KVO_KVO_UPDATE_H_
#define KVO_KVO_UPDATE_H_

#include "kvo/kvo_export.h"

#endif  // KVO_KVO_UPDATE_H_
