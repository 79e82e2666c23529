// The asynchronous RSSI scan: measurement lines reach the handler on the device's receive thread,
// or on the caller's thread when they come with the command's OK; either way the scan ends once,
// with every record handed out, and the next scan works.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_sim_fixture.h"

namespace {

using kvo_test::LibraryTest;
using tarvik_sim::Profile;
using tarvik_sim::RssiDelivery;

constexpr KvoRadioAntennaPath kMain = kKvoRadioAntennaPathMain;
constexpr KvoRadioAntennaPath kBoth = kKvoRadioAntennaPathMainAndDiversity;

struct Record {
  KvoRadioChannel channel;
  KvoRadioAntennaPath path;
  KvoRadioRssiValue value;
  std::thread::id thread;
};

struct Collector {
  std::mutex mutex;
  std::vector<Record> records;
  tarvik_sim::Module* unplug_after_first = nullptr;
};

void Collect(KvoDeviceHandle, KvoResult result, KvoRadioRssiScanData* record, void* data) {
  Collector* collector = static_cast<Collector*>(data);
  ASSERT_EQ(kKvoResultSuccess, result);
  ASSERT_EQ(1u, record->number_of_channel_items);
  ASSERT_EQ(1u, record->number_of_samples);
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(collector->mutex);
    first = collector->records.empty();
    collector->records.push_back(
        {record->channel, record->path, record->values[0], std::this_thread::get_id()});
  }
  KvoRadioRssiReleaseScanData(record);
  // The simulator, not the library: a callback may not call the library for its device.
  if (first && collector->unplug_after_first != nullptr) {
    collector->unplug_after_first->Unplug(false);
  }
}

class RadioAsyncTest : public LibraryTest {
 protected:
  KvoResult RunScan(const KvoRadioRssiScanParameters& scan, Collector* collector) {
    return KvoRadioRssiScanAsync(handle_, &scan, Collect, collector);
  }
  KvoDeviceHandle handle_ = 99;
};

TEST_F(RadioAsyncTest, EveryDeliveryHandsOutEveryMeasurementOnce) {
  const struct {
    RssiDelivery delivery;
    KvoRadioAntennaPath path;
    bool on_caller_thread;
  } cases[] = {
      {RssiDelivery::kLines, kMain, false},
      {RssiDelivery::kBursts, kBoth, false},
      {RssiDelivery::kWithResult, kBoth, true},
  };
  Profile profile = tarvik_sim::CaltProfile();
  profile.radio.rssi_burst = 3;
  handle_ = StartAndOpen(profile);
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.delivery));
    profile = module_.CurrentProfile();
    profile.radio.rssi_delivery = c.delivery;
    module_.SetProfile(profile);
    // Channels 10562, 10567, 10572, two samples each; both paths double the records.
    const KvoRadioRssiScanParameters scan = {kKvoRadioBandWcdmaI, 10562, 10574, c.path, 0, 5, 2};
    Collector collector;
    ASSERT_EQ(kKvoResultSuccess, RunScan(scan, &collector));
    const size_t paths = c.path == kBoth ? 2 : 1;
    ASSERT_EQ(3 * 2 * paths, collector.records.size());
    for (size_t i = 0; i < collector.records.size(); ++i) {
      const Record& record = collector.records[i];
      const KvoRadioChannel channel = 10562 + static_cast<KvoRadioChannel>(i / (2 * paths)) * 5;
      const int sample = static_cast<int>(i / paths % 2);
      const bool diversity = paths == 2 && i % 2 == 1;
      EXPECT_EQ(channel, record.channel) << i;
      EXPECT_EQ(diversity ? kKvoRadioAntennaPathDiversity : kMain, record.path) << i;
      EXPECT_EQ(static_cast<float>(tarvik_sim::RssiLevel(channel, diversity, sample)), record.value)
          << i;
      EXPECT_EQ(c.on_caller_thread, record.thread == std::this_thread::get_id()) << i;
    }
    EXPECT_EQ(1, module_.CurrentProfile().radio_mode);
  }
}

TEST_F(RadioAsyncTest, AMalformedLineEndsTheScanAndTheNextOneWorks) {
  Profile profile = tarvik_sim::CaltProfile();
  const KvoRadioRssiScanParameters scan = {kKvoRadioBandGsm900, 975, 977, kMain, 0, 1, 1};
  profile.extra_answers.emplace_back(
      "AT*EEMRSSI=0, 975, 977, 1, 1, 2",
      "\r\nOK\r\n\r\n*EEMRSSI: 0,975,-50.5\r\n\r\n*EEMRSSI: 0,976\r\n\r\n*EEMRSSI: 0,977,-51\r\n");
  handle_ = StartAndOpen(profile);
  Collector broken;
  EXPECT_EQ(kKvoResultRadioErrorUnexpectedRssiResponse, RunScan(scan, &broken));
  EXPECT_EQ(1u, broken.records.size());

  const KvoRadioRssiScanParameters next = {kKvoRadioBandGsm900, 975, 976, kMain, 0, 1, 1};
  Collector collector;
  EXPECT_EQ(kKvoResultSuccess, RunScan(next, &collector));
  EXPECT_EQ(2u, collector.records.size());
}

TEST_F(RadioAsyncTest, APortThatFailsEndsTheScan) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.radio.rssi_gap_ms = 300;
  handle_ = StartAndOpen(profile);
  Collector collector;
  collector.unplug_after_first = &module_;
  const KvoRadioRssiScanParameters scan = {kKvoRadioBandWcdmaI, 10562, 10838, kMain, 0, 1, 1};
  EXPECT_EQ(kKvoResultGeneralErrorDeviceNotOpen, RunScan(scan, &collector));
  EXPECT_LT(collector.records.size(), 10u);
}

}  // namespace
