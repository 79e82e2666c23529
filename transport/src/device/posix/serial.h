#ifndef TRANSPORT_SRC_DEVICE_POSIX_SERIAL_H_
#define TRANSPORT_SRC_DEVICE_POSIX_SERIAL_H_

// Serial-port driver: lists the ports that may belong to the module, opens one with fixed line
// settings, writes and reads raw bytes with a polling time-out, and finds a port's stable identity.
// It works on small integer descriptors (1 to 254) and holds no lock: the device manager
// serialises I/O per descriptor and opens and closes under its internal lock.
//
// The port list comes from the device map directory (environment TARVIK_DEVICE_MAP, default
// /dev/serial/by-id): each symbolic link is one port, the link name its identity, the link target
// the port to open.

#include <stddef.h>

#include "transport/src/common/common.h"
#include "transport/src/device/device.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TlLocDeviceItem {
  TlDeviceName device_name;
  TlDeviceUniqueIdentifier unique_identifier;
} TlLocDeviceItem;

enum { kDeviceSerialReadTimeoutMs = 100, kDeviceSerialMaxDescriptors = 255 };

// A newly allocated list of candidate ports, in ascending link-name order; an unreadable map
// directory gives an empty list and success. Release with TlLocDeviceSerialReleaseList.
TlResult TlLocDeviceSerialGetList(TlLocDeviceItem** list, size_t* length);
TlResult TlLocDeviceSerialReleaseList(TlLocDeviceItem* list);

// Opens and configures the port: raw, 8N1, the given baud, DTR on, held exclusively (flock and
// TIOCEXCL) until it is closed. kTlResultDeviceErrorCouldNotOpenDevice on any failure, a port held
// elsewhere included.
TlResult TlLocDeviceSerialOpen(char (*device_name)[64], TlDeviceBaud baud, int* file_descriptor);
TlResult TlLocDeviceSerialClose(int file_descriptor);

// Identity of the listed port named exactly device_name; left unchanged when not listed.
TlResult TlLocDeviceSerialGetUniqueIdentifier(char (*device_name)[64],
                                              TlDeviceUniqueIdentifier* unique_identifier);

// Writes all bytes; kTlResultDeviceErrorCouldNotWriteToDevice on failure.
TlResult TlLocDeviceSerialSend(int file_descriptor, const unsigned char* data, size_t size);

// Returns as soon as any bytes arrived (kTlResultSuccess), after timeout seconds of empty 100 ms
// polls (kTlResultGeneralErrorOperationTimedOut; -1 polls without limit, 0 polls once), on a read
// error or hang-up (kTlResultDeviceErrorCouldNotReadFromDevice), or for a time-out below -1
// (kTlResultGeneralErrorInvalidParameter).
TlResult TlLocDeviceSerialReceive(int file_descriptor, unsigned char* data, size_t size,
                                  int timeout, size_t* number_of_read_bytes);

#ifdef __cplusplus
}
#endif

#endif  // TRANSPORT_SRC_DEVICE_POSIX_SERIAL_H_
