#ifndef UPDATE_CONTAINER_CARRIED_CONTAINER_H_
#define UPDATE_CONTAINER_CARRIED_CONTAINER_H_

// The update container library that the program carries in its own read-only data (target
// update_container_blob): binary_libupdate_container_dll_size bytes from
// binary_libupdate_container_dll_start, the complete image of the built
// libupdate_container.dll.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

extern const unsigned char binary_libupdate_container_dll_start[];
extern const size_t binary_libupdate_container_dll_size;

#ifdef __cplusplus
}
#endif

#endif  // UPDATE_CONTAINER_CARRIED_CONTAINER_H_
