// Net configuration and firmware packages over the transparent channel, with their progress.

#include <apr_time.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "common/src/wait_seam.h"
#include "kvo/src/update/update.h"
#include "kvo/src/update/update_engine.h"
#include "transport/src/common/common.h"
#include "transport/src/transparent_channel/transparent_channel.h"

using namespace update_engine;

namespace {

constexpr uint32_t kTcTimeout = 5;

// Bytes of all packages of the current transfer, bytes of the packages finished, and the last
// progress value sent.
size_t total_size = 0;
size_t sent_size = 0;
KvoPercent progress = 0;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};

KvoResult SendTransparentChannelPayload(KvoDeviceHandle handle, const char* tag,
                                        const unsigned char* data, size_t size,
                                        TlTcProgressCallback* progress_callback) {
  TlResult result = TlTcOpen(handle, kTlTcVersionTwo, kTcTimeout);
  if (result != kTlResultSuccess) {
    KvoLogError(kSender, "%s - Could not open TC (%d)\n", tag, result);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  // The channel writes the request id into the payload, and the container's
  // bytes are constant: send a copy.
  std::unique_ptr<unsigned char, FreeDeleter> copy(
      static_cast<unsigned char*>(malloc(size > 0 ? size : 1)));
  if (!copy) {
    TlTcClose(handle, kTcTimeout);
    return kKvoResultGeneralErrorMemory;
  }
  if (size > 0 && data != nullptr) memcpy(copy.get(), data, size);
  result = TlTcSend(handle, progress_callback, kTcTimeout, data != nullptr ? copy.get() : nullptr,
                    size, nullptr, nullptr);
  if (result != kTlResultSuccess) {
    KvoLogError(kSender, "%s - Error when sending payload (%d)\n", tag, result);
    // Back to AT mode, so that the module can still be asked where it stands.
    TlTcClose(handle, kTcTimeout);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  result = TlTcClose(handle, kTcTimeout);
  if (result == kTlResultTransparentChannelErrorUnableToCloseTcChannel) {
    KvoLogError(kSender, "%s - Could not close TC (%d)\n", tag, result);
    return kKvoResultDeviceErrorTransparentChannel;
  }
  return kKvoResultSuccess;
}

KvoResult UpdateGetTotalSizeOfUpdate(KvoDeviceHandle handle, DeviceUpgradeState ustate,
                                     bool* nothing_to_send) {
  *nothing_to_send = false;
  KvoLogInfo(kSender,
             "Will wait 2 seconds to allow the device to enumerate "
             "all files that will be sent.");
  CommonSleep(2 * APR_USEC_PER_SEC);
  AtResultHolder at;
  const TlResult sent = TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get());
  if (sent != kTlResultSuccess || !at.ok()) {
    KvoLogError(kSender, "Failed to send AT*EEVINFO=4");
    return kKvoResultGeneralErrorAtError;
  }
  KvoLogDebug(kSender, "AT*EEVINFO=4: %s", at.text());
  size_t total = 0;
  const UcStatus status = uc_get_total_size_of_update_fn(at.text(), &total);
  KvoLogDebug(kSender, "Status: %d (4=success) Total size of update items to upgrade: %d\n", status,
              static_cast<int>(total));
  total_size = total;
  KvoResult result = kKvoResultSuccess;
  if (status == kUcUpdateErrorMissingFile) {
    KvoLogError(kSender, "The update container is invalid, some files are missing!\n");
    result = kKvoResultUpdateErrorMissFilesInPackage;
  } else if (status == kUcUpdateNoFilesFoundInEeevinfo) {
    KvoLogError(kSender,
                "Could not retrieve information about necessary "
                "update files from AT*EEVINFO=4\n");
    result = kKvoResultGeneralErrorAtError;
  } else if (status == kUcUpdateError) {
    KvoLogError(kSender, "Failed to retrieve data from AT*EEVINFO=4\n");
    result = kKvoResultGeneralErrorAtError;
  }
  if (result != kKvoResultSuccess) {
    KvoLogError(kSender, "Failed to get total size of update.");
    return result;
  }
  if (total == 0) {
    *nothing_to_send = true;
    return ustate <= 1 ? kKvoResultUpdateErrorNoUpdateNeeded : kKvoResultSuccess;
  }
  return kKvoResultSuccess;
}

KvoResult UpdateSendNextUpdateItem(KvoDeviceHandle handle) {
  for (;;) {
    unsigned char* data = nullptr;
    size_t size = 0;
    const UcStatus status = uc_get_next_update_item_fn(&data, &size);
    if (status == kUcUpdateDone) return kKvoResultSuccess;
    if (status == kUcUpdateErrorContainer) {
      KvoLogError(kSender, "Failed to load dynamic symbol object\n");
      return kKvoResultUpdateErrorFailedToLoadDLL;
    }
    if (SendTransparentChannelPayload(handle, "UpdateSendNextUpdateItem", data, size,
                                      UpdateTlTcProgressCallback) != kKvoResultSuccess) {
      KvoLogError(kSender, "Failed to send assignment with transparent channel\n");
      return kKvoResultDeviceErrorTransparentChannel;
    }
    KvoLogDebug(kSender, "Action: kUcActionWithProgressInfo - continue to send next item (%d)\n",
                status);
  }
}

}  // namespace

void update_engine::ResetTransferProgress() {
  total_size = 0;
  sent_size = 0;
  progress = 0;
}

KvoResult update_engine::UpdateTransferPackages(KvoDeviceHandle handle,
                                                UcInstallFlagType install_flag,
                                                DeviceUpgradeState ustate, UcActionType action) {
  bool nothing_to_send = false;
  KvoResult result = UpdateGetTotalSizeOfUpdate(handle, ustate, &nothing_to_send);
  if (result != kKvoResultSuccess || nothing_to_send) return result;
  if (progress != 0) {
    sent_size = 0;
    progress = 0;
  }
  result = UpdateSendNextUpdateItem(handle);
  if (result == kKvoResultSuccess && action == kUcActionWithProgressInfo) {
    SendSimpleEvent(handle, kKvoUpdateEventTypeReceivedUpdatePackages, install_flag);
  }
  return result;
}

KvoResult UpdateSendNetConfiguration(KvoDeviceHandle handle) {
  AtResultHolder at;
  if (TlAtSend(handle, "AT*EEVINFO=4", kEevinfoTimeout, at.get()) != kTlResultSuccess) {
    KvoLogError(kSender, "UpdateSendNetConfiguration - Failed to send AT*EEVINFO=4");
    return kKvoResultGeneralErrorAtError;
  }
  KvoLogDebug(kSender, "%s: %s\n", "AT*EEVINFO=4", at.text());
  unsigned char* data = nullptr;
  size_t size = 0;
  const UcStatus status = uc_get_net_configuration_fn(at.text(), &data, &size);
  KvoLogDebug(kSender,
              "UpdateSendNetConfiguration - Get net configuration status=%d "
              "(size=%d)\n",
              status, static_cast<int>(size));
  if (status != kUcUpdateSuccess) {
    data = nullptr;
    size = 0;
  }
  return SendTransparentChannelPayload(handle, "UpdateSendNetConfiguration", data, size, nullptr);
}

void UpdateTlTcProgressCallback(unsigned int bytes_sent, unsigned int bytes_total) {
  double value = 0.0;
  if (total_size > 0) {
    value = (static_cast<double>(sent_size) + bytes_sent) / static_cast<double>(total_size) * 100.0;
  }
  if (value > 100.0) value = 100.0;
  if (value < 0.0) value = 0.0;
  progress = static_cast<KvoPercent>(value);
  if (bytes_sent == bytes_total) sent_size += bytes_sent;
  KvoUpdateEvent event;
  memset(&event, 0, sizeof event);
  event.type = kKvoUpdateEventTypeProgress;
  event.progress = progress;
  SendEvent(update_handle, &event);
}
