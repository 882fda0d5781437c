#include "platform/CpuShare.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "tests/Common/TempFolder.h"

namespace {

TEST(CpuShare, QuotasAndSettingsGiveWholeCores) {
  // Rounded up: a quota of one and a half cores still needs two carriers.
  EXPECT_EQ(QuotaCoresV2("max 100000\n"), std::nullopt);
  EXPECT_EQ(QuotaCoresV2("150000 100000\n"), 2);
  EXPECT_EQ(QuotaCoresV2("50000 100000"), 1);
  EXPECT_EQ(QuotaCoresV2("400000 100000\n"), 4);
  EXPECT_EQ(QuotaCoresV2("garbage"), std::nullopt);
  EXPECT_EQ(QuotaCoresV2(""), std::nullopt);
  EXPECT_EQ(QuotaCoresV1("-1\n", "100000\n"), std::nullopt);
  EXPECT_EQ(QuotaCoresV1("300000\n", "100000\n"), 3);
  EXPECT_EQ(QuotaCoresV1("250000", "0"), std::nullopt);

  EXPECT_EQ(CarrierCountSetting(nullptr), std::nullopt);
  EXPECT_EQ(CarrierCountSetting("3"), 3);
  EXPECT_EQ(CarrierCountSetting("1024"), 1024);
  for (const char* refused : {"", "0", "-2", "3x", " 3", "1025", "99999999999999999999"})
    EXPECT_EQ(CarrierCountSetting(refused), std::nullopt) << refused;
}

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  WriteWholeFile(path, text);
}

TEST(CpuShare, TheSmallestQuotaOfTheCgroupAndItsAncestorsCounts) {
  TempFolder root;
  const std::string r = root.Path().substr(0, root.Path().size() - 1);
  // v2: the service's own cgroup allows 6 cores, its slice 2.
  Write(r + "/system.slice/vt.service/cpu.max", "600000 100000\n");
  Write(r + "/system.slice/cpu.max", "200000 100000\n");
  EXPECT_EQ(CgroupQuotaCores(r, "0::/system.slice/vt.service\n"), 2);
  // No limit anywhere: nothing, so the affinity alone counts.
  Write(r + "/other/cpu.max", "max 100000\n");
  EXPECT_EQ(CgroupQuotaCores(r, "0::/other\n"), std::nullopt);
  // Inside a container's own namespace the path is "/": the root's file.
  Write(r + "/cpu.max", "300000 100000\n");
  EXPECT_EQ(CgroupQuotaCores(r, "0::/\n"), 3);

  // v1: the cpu controller's line only, in either mount's name.
  TempFolder v1;
  const std::string p = v1.Path().substr(0, v1.Path().size() - 1);
  Write(p + "/cpu,cpuacct/job/cpu.cfs_quota_us", "150000\n");
  Write(p + "/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n");
  Write(p + "/cpu/cpu.cfs_quota_us", "-1\n");
  Write(p + "/cpu/cpu.cfs_period_us", "100000\n");
  Write(p + "/memory/job/cpu.cfs_quota_us", "100000\n");
  Write(p + "/memory/job/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(CgroupQuotaCores(p, "5:memory:/job\n2:cpu,cpuacct:/job\n"), 2);
  EXPECT_EQ(CgroupQuotaCores(p, "5:memory:/job\n"), std::nullopt);
  EXPECT_EQ(CgroupQuotaCores(p, "1:cpu:/\n"), std::nullopt);
  EXPECT_EQ(CgroupQuotaCores(p, "garbage\n\n"), std::nullopt);
}

TEST(CpuShare, CarriersFollowTheSettingElseTheUsableCores) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_GE(UsableCores(), 1);
  EXPECT_LE(UsableCores(), CPU_COUNT(&set));

  ::setenv("VT_CARRIERS", "2", 1);
  EXPECT_EQ(DefaultCarrierCount(), 2);
  ::setenv("VT_CARRIERS", "many", 1);
  EXPECT_EQ(DefaultCarrierCount(), UsableCores());
  ::unsetenv("VT_CARRIERS");
  EXPECT_EQ(DefaultCarrierCount(), UsableCores());
}

}  // namespace
