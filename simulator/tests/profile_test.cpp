// Profiles: presets, settings, profile files and the saved update state.
#include "tarvik_sim/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/files.h"

namespace {

using tarvik_sim::Profile;

std::string WriteFile(const tarvik_test::TempDir& dir, const std::string& text) {
  const std::string path = dir.File("profile.txt");
  tarvik_test::WriteFile(path, text);
  return path;
}

TEST(ProfileTest, FileSettingsApplyInOrder) {
  tarvik_test::TempDir dir;
  const std::string path = WriteFile(dir,
                                     "# a Brem module with a locked SIM\n"
                                     "preset = brem\n"
                                     "\n"
                                     "product_number = ZRB 207 42/3\n"
                                     "report.Vendor Name = Somebody Else\n"
                                     "sim = PIN\n"
                                     "pin = 0000\n"
                                     "iccid = 8946000000000000001\n"
                                     "radio_mode = 4\n"
                                     "itp = yes\n"
                                     "upgrade_state = 2\n"
                                     "packages = ZNT4025527_1_R1G01_FC.ZIP, EXTRA:12\n"
                                     "self_restart = 0\n"
                                     "ready_after = 4\n"
                                     "eotp = *EOTP: 177\n"
                                     "answer = AT*EEMRSSI=1,2 => \\r\\n*EEMRSSI: 5\\r\\nOK\\r\\n\n"
                                     "answer = at*eemrssi=1,2 => \\r\\nERROR\\r\\n\n");
  Profile profile = tarvik_sim::DefaultProfile();
  std::string error;
  ASSERT_TRUE(tarvik_sim::LoadProfileFile(path, &profile, &error)) << error;
  EXPECT_EQ(profile.platform_name, "Brem");
  EXPECT_EQ(profile.Get("Product Number"), "ZRB 207 42/3");
  EXPECT_EQ(profile.Get("Vendor Name"), "Somebody Else");
  EXPECT_EQ(profile.sim, tarvik_sim::SimState::kPinLocked);
  EXPECT_EQ(profile.pin, "0000");
  EXPECT_EQ(profile.iccid, "8946000000000000001");
  EXPECT_EQ(profile.radio_mode, 4);
  EXPECT_TRUE(profile.itp_mode);
  EXPECT_EQ(profile.UpgradeState(), 2);
  ASSERT_EQ(profile.wanted_packages.size(), 2u);
  EXPECT_EQ(profile.wanted_packages[0].length, 4126u);
  EXPECT_EQ(profile.wanted_packages[1].name, "EXTRA");
  EXPECT_EQ(profile.wanted_packages[1].length, 12u);
  EXPECT_FALSE(profile.self_restart);
  EXPECT_EQ(profile.ready_after_queries, 4);
  EXPECT_EQ(profile.eotp, "*EOTP: 177");
  // A later answer for the same command replaces the earlier one.
  ASSERT_EQ(profile.extra_answers.size(), 1u);
  EXPECT_EQ(profile.extra_answers[0].first, "AT*EEMRSSI=1,2");
  EXPECT_EQ(profile.extra_answers[0].second, "\r\nERROR\r\n");
}

TEST(ProfileTest, BadSettingsAreRefusedWithTheirLine) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"model = X\nfrobnicate = 1\n", ":2:"},
      {"upgrade_state = 14\n", "0 to 13"},
      {"radio_mode = 2\n", "1 or 4"},
      {"sim = lost\n", "lost"},
      {"iccid = 89AB\n", "digits"},
      {"report.No Such Field = 1\n", "No Such Field"},
      {"packages = NOT_CARRIED\n", "NOT_CARRIED"},
      {"just some words\n", "key = value"},
      {"preset = zorg\n", "zorg"},
      {"answer = AT+CIMI\n", "COMMAND => TEXT"},
  };
  for (const auto& item : cases) {
    tarvik_test::TempDir dir;
    Profile profile = tarvik_sim::DefaultProfile();
    std::string error;
    EXPECT_FALSE(tarvik_sim::LoadProfileFile(WriteFile(dir, item.text), &profile, &error))
        << item.text;
    EXPECT_NE(error.find(item.expected), std::string::npos) << error;
  }
  Profile profile;
  std::string error;
  EXPECT_FALSE(tarvik_sim::LoadProfileFile("/nonexistent/profile", &profile, &error));
  EXPECT_NE(error.find("/nonexistent/profile"), std::string::npos);
}

TEST(ProfileTest, SavedUpdateStateReadsBack) {
  Profile saved = tarvik_sim::DefaultProfile();
  saved.SetUpgradeState(2);
  saved.Set("Config. Set Revision", "R5E/1");
  saved.target_revision = "R5E/1";
  saved.received_packages = {"ZNL5504429_1_R1D_networklist", "OTHER"};
  tarvik_test::TempDir dir;
  Profile loaded = tarvik_sim::DefaultProfile();
  std::string error;
  ASSERT_TRUE(tarvik_sim::LoadProfileFile(WriteFile(dir, tarvik_sim::SaveUpdateState(saved)),
                                          &loaded, &error))
      << error;
  EXPECT_EQ(loaded.UpgradeState(), 2);
  EXPECT_EQ(loaded.Get("Config. Set Revision"), "R5E/1");
  EXPECT_EQ(loaded.target_revision, "R5E/1");
  EXPECT_EQ(loaded.received_packages, saved.received_packages);
}

TEST(ProfileTest, PackageTableHasTheCarriedLengths) {
  size_t total = 0;
  for (const auto& package : tarvik_sim::KnownPackages()) total += package.length;
  EXPECT_EQ(tarvik_sim::KnownPackages().size(), 7u);
  EXPECT_EQ(total, 34076u + 4126u + 4126u + 4127u + 4127u + 8401222u + 8432613u);
  ASSERT_EQ(tarvik_sim::KnownNetConfigurations().size(), 1u);
  EXPECT_EQ(tarvik_sim::KnownNetConfigurations()[0].name, "R5E/1");
  EXPECT_EQ(tarvik_sim::KnownNetConfigurations()[0].length, 24792u);
  // The default module wants the network list and the R4A02 firmware: 8466689 bytes.
  size_t wanted = 0;
  for (const auto& package : tarvik_sim::DefaultProfile().wanted_packages) wanted += package.length;
  EXPECT_EQ(wanted, 8466689u);
}

}  // namespace
