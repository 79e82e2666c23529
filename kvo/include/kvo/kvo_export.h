#ifndef KVO_KVO_EXPORT_H_
#define KVO_KVO_EXPORT_H_

// KVO_API marks the functions that libkvo.so exports by name with C linkage; everything else in
// the library is hidden.
#ifdef __cplusplus
#define KVO_EXTERN_C extern "C"
#else
#define KVO_EXTERN_C
#endif

#define KVO_API KVO_EXTERN_C __attribute__((visibility("default")))

#endif  // KVO_KVO_EXPORT_H_
