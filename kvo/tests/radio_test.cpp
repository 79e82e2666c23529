// Radio tests end to end against the simulated module, in AT and in ITP mode. The simulator's
// levels are fixed functions of channel, receiver and sample (tarvik_sim/radio_profile.h), so
// every value a scan returns is predicted here.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device_sim_fixture.h"

namespace {

using kvo_test::LibraryTest;
using tarvik_sim::Profile;

constexpr KvoResult kOk = kKvoResultSuccess;
constexpr KvoRadioAntennaPath kMain = kKvoRadioAntennaPathMain;
constexpr KvoRadioAntennaPath kBoth = kKvoRadioAntennaPathMainAndDiversity;

Profile InItpMode(Profile profile) {
  profile.itp_mode = true;
  return profile;
}

KvoRadioRssiScanParameters Scan(KvoRadioBand band, KvoRadioChannel start, KvoRadioChannel end,
                                KvoRadioAntennaPath path, size_t step, size_t samples,
                                KvoRadioRssiGain gain = 0) {
  return KvoRadioRssiScanParameters{band, start, end, path, gain, step, samples};
}

// A scan list owned by the test.
struct ScanList {
  ~ScanList() {
    if (list != nullptr) KvoRadioRssiReleaseScanData(list);
  }
  KvoRadioRssiScanData* list = nullptr;
  size_t size = 0;
};

class RadioTest : public LibraryTest {
 protected:
  // Its ITP assignments switch Brem and Calt modules into ITP mode.
  void PrepareWorkingDirectory() override {
    ASSERT_TRUE(kvo_test::PlaceContainer(directory_, kvo_test::SampleContainer()));
  }
  // Commands the module received since the last call.
  std::vector<std::string> Sent() {
    std::vector<std::string> commands = module_.Commands();
    module_.ClearTranscript();
    return commands;
  }
  // The commands in `expected` came in this order (others may lie between them).
  void ExpectInOrder(const std::vector<std::string>& expected) {
    const std::vector<std::string> sent = Sent();
    auto at = sent.begin();
    for (const std::string& command : expected) {
      at = std::find(at, sent.end(), command);
      ASSERT_NE(sent.end(), at) << command << " missing or out of order";
    }
  }
};

TEST_F(RadioTest, AtModeBandsFollowTheModulesMasks) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  KvoRadioBand* list = nullptr;
  size_t size = 0;
  ASSERT_EQ(kOk, KvoRadioGetSupportedBands(handle, &list, &size));
  const std::vector<KvoRadioBand> bands(list, list + size);
  EXPECT_EQ((std::vector<KvoRadioBand>{
                kKvoRadioBandGsm850, kKvoRadioBandGsm900, kKvoRadioBandGsm900, kKvoRadioBandGsm1800,
                kKvoRadioBandGsm1900, kKvoRadioBandWcdmaI, kKvoRadioBandWcdmaII}),
            bands);
  EXPECT_EQ(kOk, KvoRadioReleaseSupportedBands(list));
}

// Checks every record of a scan against what the simulator measures.
void ExpectMeasured(const KvoRadioRssiScanParameters& scan, bool average, bool itp,
                    const ScanList& got) {
  const size_t paths = scan.antenna_path == kBoth ? 2 : 1;
  const size_t channels = (scan.end_channel - scan.start_channel) / scan.step_size + 1;
  ASSERT_EQ(channels * paths, got.size);
  EXPECT_EQ(got.size, got.list[0].number_of_channel_items);
  for (size_t i = 0; i < got.size; ++i) {
    const KvoRadioRssiScanData& record = got.list[i];
    // ITP mode measures all main records first; AT mode reports main and diversity per channel.
    const bool diversity = paths == 2 && i % 2 == 1;
    const unsigned channel = scan.start_channel + static_cast<unsigned>(i / paths * scan.step_size);
    const KvoRadioAntennaPath path =
        itp ? scan.antenna_path : (diversity ? kKvoRadioAntennaPathDiversity : kMain);
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(scan.band, record.band);
    EXPECT_EQ(channel, record.channel);
    EXPECT_EQ(path, record.path);
    const int samples = static_cast<int>(scan.number_of_samples);
    if (average || itp) {
      ASSERT_EQ(1u, record.number_of_samples);
      EXPECT_EQ(static_cast<float>(tarvik_sim::RssiMean(channel, diversity, samples)),
                record.values[0]);
      continue;
    }
    ASSERT_EQ(scan.number_of_samples, record.number_of_samples);
    for (int s = 0; s < samples; ++s) {
      EXPECT_EQ(static_cast<float>(tarvik_sim::RssiLevel(channel, diversity, s)), record.values[s]);
    }
  }
}

TEST_F(RadioTest, SynchronousScansReturnWhatTheModuleMeasuredAndRestoreTheRadio) {
  const struct {
    KvoRadioRssiScanParameters scan;
    bool average;
  } cases[] = {
      // 56 channels on both paths: 112 records of 3 values.
      {Scan(kKvoRadioBandWcdmaI, 10562, 10838, kBoth, 5, 3), false},
      {Scan(kKvoRadioBandGsm900, 975, 1023, kMain, 8, 4), true},
  };
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  for (const auto& c : cases) {
    ScanList got;
    ASSERT_EQ(kOk, KvoRadioRssiScan(handle, &c.scan, c.average, &got.list, &got.size));
    ExpectMeasured(c.scan, c.average, false, got);
    ExpectInOrder({"AT+CFUN=4",
                   c.scan.band == kKvoRadioBandGsm900 ? "AT*EEMRSSI=0,975,1023,4,8,0"
                                                      : "AT*EEMRSSI=4,10562,10838,2,3,5,1",
                   "AT+CFUN=1"});
    EXPECT_EQ(1, module_.CurrentProfile().radio_mode);
  }
}

TEST_F(RadioTest, InvalidScansAreRefusedBeforeAnythingIsSent) {
  const struct {
    bool itp;  // a Brem module in ITP mode, else a Calt module in AT mode
    KvoRadioRssiScanParameters scan;
  } cases[] = {
      {false, Scan(kKvoRadioBandWcdmaI, 10562, 10838, kMain, 0, 1)},
      {false, Scan(kKvoRadioBandWcdmaI, 10838, 10562, kMain, 1, 1)},
      {false, Scan(kKvoRadioBandWcdmaI, 10562, 10838, kMain, 1, 0)},
      {false, Scan(kKvoRadioBandWcdmaI, 10562, 10838, kKvoRadioAntennaPathDiversity, 1, 1)},
      {false, Scan(kKvoRadioBandMax, 10562, 10838, kMain, 1, 1)},
      {true, Scan(kKvoRadioBandGsm900, 975, 980, kBoth, 1, 1)},
      {true, Scan(kKvoRadioBandGsm900, 975, 980, kMain, 1, 1, 4)},
      {true, Scan(kKvoRadioBandWcdmaI, 10562, 10838, kMain, 1, 0)},
  };
  const KvoDeviceHandle at = StartAndOpen(tarvik_sim::CaltProfile());
  tarvik_sim::Module* brem = map_.Add(InItpMode(tarvik_sim::BremProfile()), "brem-mdm");
  ASSERT_NE(nullptr, brem);
  KvoDeviceOpenParameters parameters =
      tarvik_test::OpenParameters<KvoDeviceOpenParameters>(brem->AtPortPath());
  KvoDeviceHandle itp = 99;
  ASSERT_EQ(kOk, KvoDeviceOpen(&parameters, &itp));
  module_.ClearTranscript();
  brem->ClearTranscript();
  for (const auto& c : cases) {
    ScanList got;
    got.size = 5;
    EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter,
              KvoRadioRssiScan(c.itp ? itp : at, &c.scan, false, &got.list, &got.size));
    EXPECT_EQ(nullptr, got.list);
    EXPECT_EQ(0u, got.size);
  }
  EXPECT_EQ(std::vector<std::string>(), module_.Commands());
  EXPECT_EQ(std::vector<std::string>(), brem->Commands());
}

TEST_F(RadioTest, GpsReportMarkedInvalidStillCarriesItsValues) {
  Profile profile = tarvik_sim::CaltProfile();
  profile.radio.gps_valid = 0;
  const KvoDeviceHandle handle = StartAndOpen(profile);
  KvoRadioGpsSingleSatelliteTestData data = {};
  EXPECT_EQ(kKvoResultRadioGpsResultNotValid,
            KvoRadioGpsTestSingleSatellite(handle, kKvoRadioGpsSatelliteId5, &data));
  EXPECT_EQ(kKvoRadioGpsSatelliteId5, data.satellite_id);
  EXPECT_EQ(profile.radio.gps_signal_strength, data.signal_strength);
  EXPECT_EQ(profile.radio.gps_signal_to_noise_ratio, data.signal_to_noise_ratio);
}

TEST_F(RadioTest, DovinTransmitterRunsInAtModeWithTheRadioOff) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::DovinProfile());
  module_.ClearTranscript();
  // The uplink channel 9612 of band I is sent as its downlink channel.
  const KvoRadioTxEnableParameters tx = {kKvoRadioBandWcdmaI, kKvoRadioGsmTxModeStatic, 9612,
                                         kKvoRadioModulationWCDMA, 10};
  ASSERT_EQ(kOk, KvoRadioTxEnable(handle, &tx));
  ExpectInOrder({"AT+CFUN?", "AT+CFUN=4", "AT*EEMENABLETX = 4, 10562, 0, 10"});
  EXPECT_TRUE(module_.CurrentProfile().radio.tx_on);

  ASSERT_EQ(kOk, KvoRadioTxDisable(handle));
  EXPECT_EQ((std::vector<std::string>{"AT+CFUN=4", "AT+CFUN?", "AT*EEMENABLETX=99"}), Sent());
  EXPECT_FALSE(module_.CurrentProfile().radio.tx_on);
}

TEST_F(RadioTest, ItpBandsAreTheEnabledOnesTheModuleSupports) {
  Profile profile = InItpMode(tarvik_sim::BremProfile());
  profile.radio.itp_supported = {1, 2, 8};
  profile.radio.itp_enabled = {1, 3, 8};  // 3 is not supported: left out
  const KvoDeviceHandle handle = StartAndOpen(profile);
  KvoRadioBand* list = nullptr;
  size_t size = 0;
  ASSERT_EQ(kOk, KvoRadioGetSupportedBands(handle, &list, &size));
  EXPECT_EQ(
      (std::vector<KvoRadioBand>{kKvoRadioBandGsm900, kKvoRadioBandGsm1900, kKvoRadioBandGsm1800,
                                 kKvoRadioBandGsm850, kKvoRadioBandWcdmaI, kKvoRadioBandWcdmaVIII}),
      std::vector<KvoRadioBand>(list, list + size));
  KvoRadioReleaseSupportedBands(list);
}

TEST_F(RadioTest, ItpGsmScanAveragesCalibratedBursts) {
  const KvoDeviceHandle handle = StartAndOpen(InItpMode(tarvik_sim::BremProfile()));
  // A raw level of 0x80 with offset 0 (gain 0) is -48 dBm.
  ScanList one;
  KvoRadioRssiScanParameters scan = Scan(kKvoRadioBandGsm900, 976, 976, kMain, 1, 1, 0);
  ASSERT_EQ(tarvik_sim::RxbrLevel(976, 0), 0x80);
  ASSERT_EQ(kOk, KvoRadioRssiScan(handle, &scan, false, &one.list, &one.size));
  ASSERT_EQ(1u, one.size);
  EXPECT_EQ(-48.0f, one.list[0].values[0]);

  // Gain 2 reads the offset 0xFD - 256 = -3 from the calibration answer "0,FE,FD,FC".
  scan = Scan(kKvoRadioBandGsm900, 975, 977, kMain, 1, 4, 2);
  module_.ClearTranscript();
  ScanList got;
  ASSERT_EQ(kOk, KvoRadioRssiScan(handle, &scan, false, &got.list, &got.size));
  const std::vector<std::string> sent = Sent();
  EXPECT_EQ(12, std::count(sent.begin(), sent.end(), "rxbr=5"));
  ASSERT_EQ(3u, got.size);
  for (unsigned i = 0; i < 3; ++i) {
    const unsigned channel = 975 + i;
    EXPECT_EQ(1, std::count(sent.begin(), sent.end(), "swrx=" + std::to_string(channel) + ",2"));
    double sum = 0;
    for (int s = 0; s < 4; ++s) sum += tarvik_sim::RxbrLevel(channel, s) * 0.375 - 96 - 3;
    EXPECT_EQ(channel, got.list[i].channel);
    EXPECT_EQ(static_cast<float>(sum / 4), got.list[i].values[0]);
  }
}

TEST_F(RadioTest, ItpWcdmaScanMeasuresMainThenDiversity) {
  const KvoDeviceHandle handle = StartAndOpen(InItpMode(tarvik_sim::BremProfile()));
  module_.ClearTranscript();
  const KvoRadioRssiScanParameters scan = Scan(kKvoRadioBandWcdmaI, 10562, 10572, kBoth, 5, 2);
  ScanList got;
  ASSERT_EQ(kOk, KvoRadioRssiScan(handle, &scan, true, &got.list, &got.size));
  EXPECT_EQ(
      (std::vector<std::string>{"mode=4", "wcmp=1", "rdiv=1", "wrxc=10562", "rxpw=2", "wrxc=10567",
                                "rxpw=2", "wrxc=10572", "rxpw=2", "rdiv=2", "wrxc=10562", "rxpw=2",
                                "wrxc=10567", "rxpw=2", "wrxc=10572", "rxpw=2"}),
      Sent());
  ExpectMeasured(scan, true, true, got);
}

TEST_F(RadioTest, ItpTransmitters) {
  const KvoDeviceHandle handle = StartAndOpen(tarvik_sim::CaltProfile());
  module_.ClearTranscript();
  // The module is switched into ITP mode first, and stays there.
  KvoRadioTxEnableParameters tx = {kKvoRadioBandWcdmaI, kKvoRadioGsmTxModeStatic, 9612,
                                   kKvoRadioModulationSine, 10};
  ASSERT_EQ(kOk, KvoRadioTxEnable(handle, &tx));
  std::vector<std::string> sent = Sent();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_NE(sent.end(), std::find(sent.begin(), sent.end(), "AT*E2RESET"));
  EXPECT_EQ((std::vector<std::string>{"wbsl=1", "wsta=1", "wtrx=10562,0,0,10", "tx3c=1,1,8,0,0"}),
            std::vector<std::string>(sent.end() - 4, sent.end()));
  EXPECT_TRUE(module_.CurrentProfile().radio.tx_on);

  // GSM TX mode 2 does not exist: only the band is set.
  tx = {kKvoRadioBandGsm900, static_cast<KvoRadioGsmTxMode>(2), 62, kKvoRadioModulationGMSK, 5};
  EXPECT_EQ(kKvoResultGeneralErrorInvalidParameter, KvoRadioTxEnable(handle, &tx));
  EXPECT_EQ(std::vector<std::string>{"mode=0,2"}, Sent());
  ASSERT_EQ(kOk, KvoRadioTxDisable(handle));
  EXPECT_EQ(std::vector<std::string>{"rera"}, Sent());
  EXPECT_FALSE(module_.CurrentProfile().radio.tx_on);
}

TEST_F(RadioTest, ItpGpsOfTheQ12Family) {
  Profile profile = tarvik_sim::BremProfile();
  profile.Set("Product Number", "ZRB 207 42/1");
  profile.eotp = "*EOTP: 177";  // the CID the sample container's ITP assignment takes
  profile.radio.itp_gps_state = 3;
  const KvoDeviceHandle handle = StartAndOpen(profile);
  module_.ClearTranscript();

  // Switched into ITP mode, the module reports its GPS in error: nothing is measured.
  KvoRadioGpsSingleSatelliteTestData data = {};
  EXPECT_EQ(kKvoResultRadioItpGpsStatusError,
            KvoRadioGpsTestSingleSatellite(handle, kKvoRadioGpsSatelliteId1, &data));
  const std::vector<std::string> sent = Sent();
  EXPECT_EQ("grsd=0", sent.back());
  EXPECT_EQ(sent.end(), std::find(sent.begin(), sent.end(), "grsd=1,5000"));

  profile = module_.CurrentProfile();
  profile.radio.itp_gps_state = 1;
  module_.SetProfile(profile);
  ASSERT_EQ(kOk, KvoRadioGpsTestSingleSatellite(handle, kKvoRadioGpsSatelliteId1, &data));
  EXPECT_EQ(static_cast<KvoRadioGpsSatelliteId>(profile.radio.itp_gps_satellite),
            data.satellite_id);
  EXPECT_EQ(profile.radio.gps_signal_strength, data.signal_strength);
  EXPECT_EQ((std::vector<std::string>{"grsd=0", "grsd=1,5000"}), Sent());
}

KvoResult ScanOnce(KvoDeviceHandle handle, KvoRadioRssiScanParameters scan) {
  ScanList got;
  return KvoRadioRssiScan(handle, &scan, false, &got.list, &got.size);
}
KvoResult BandsOnce(KvoDeviceHandle handle) {
  KvoRadioBand* list = nullptr;
  size_t size = 0;
  const KvoResult result = KvoRadioGetSupportedBands(handle, &list, &size);
  if (list != nullptr) KvoRadioReleaseSupportedBands(list);
  return result;
}
KvoResult TransmitOnce(KvoDeviceHandle handle) {
  const KvoRadioTxEnableParameters tx = {kKvoRadioBandWcdmaI, kKvoRadioGsmTxModeStatic, 9612,
                                         kKvoRadioModulationWCDMA, 10};
  const KvoResult enabled = KvoRadioTxEnable(handle, &tx);
  const KvoResult disabled = KvoRadioTxDisable(handle);
  return enabled != kOk ? enabled : disabled;
}

// Every command line a call sends is answered "ERROR" in turn: the call must not report success
// unless it may do without that command (the radio's restore after a scan; the status query and
// switch-off of a transmitter that finds the radio off), and the handle must serve the call again
// once the module answers normally: no lock, scan mode or radio state left behind.
TEST_F(RadioTest, EachRefusedCommandFailsTheCallAndLeavesTheHandleUsable) {
  const struct {
    bool itp;  // a Brem module in ITP mode, else a Dovin module in AT mode
    KvoResult (*call)(KvoDeviceHandle);
    std::vector<std::string> may_fail;
  } rows[] = {
      {false, BandsOnce, {}},
      {false,
       [](KvoDeviceHandle h) {
         return ScanOnce(h, Scan(kKvoRadioBandWcdmaI, 10562, 10572, kBoth, 5, 3));
       },
       {"AT+CFUN=1"}},
      {false, TransmitOnce, {"AT+CFUN?", "AT+CFUN=4"}},
      {true, BandsOnce, {}},
      {true,
       [](KvoDeviceHandle h) {
         return ScanOnce(h, Scan(kKvoRadioBandGsm900, 975, 976, kMain, 1, 2, 2));
       },
       {}},
      {true, TransmitOnce, {}},
  };
  int number = 0;
  for (const auto& row : rows) {
    tarvik_sim::Module* module =
        map_.Add(row.itp ? InItpMode(tarvik_sim::BremProfile()) : tarvik_sim::DovinProfile(),
                 "row" + std::to_string(++number) + "-mdm");
    ASSERT_NE(nullptr, module);
    const auto parameters =
        tarvik_test::OpenParameters<KvoDeviceOpenParameters>(module->AtPortPath());
    KvoDeviceHandle handle = 99;
    ASSERT_EQ(kOk, KvoDeviceOpen(&parameters, &handle));
    module->ClearTranscript();
    ASSERT_EQ(kOk, row.call(handle)) << "row " << number;
    std::vector<std::string> commands = module->Commands();
    std::sort(commands.begin(), commands.end());
    commands.erase(std::unique(commands.begin(), commands.end()), commands.end());
    for (const std::string& command : commands) {
      tarvik_sim::Faults faults;
      faults.error_commands = {command};
      module->SetFaults(faults);
      module->ClearTranscript();
      const KvoResult refused = row.call(handle);
      const std::vector<std::string> sent = module->Commands();
      module->SetFaults(tarvik_sim::Faults());
      // A command the call no longer needs (the radio is already in the mode it sets) is not sent.
      if (std::count(sent.begin(), sent.end(), command) != 0 &&
          std::count(row.may_fail.begin(), row.may_fail.end(), command) == 0) {
        EXPECT_NE(kOk, refused) << "row " << number << ": " << command << " refused";
      }
      EXPECT_EQ(kOk, row.call(handle)) << "row " << number << ": again after " << command;
    }
    KvoDeviceClose(handle);
  }
}

}  // namespace
