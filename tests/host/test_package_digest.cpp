// A package that comes with a digest (resource "UPDATE" 103) is checked
// against it before anything is taken from it.
#include <gtest/gtest.h>

#include "flow/startup.h"
#include "package/format.h"
#include "package/sha256.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "support/host_env.h"
#include "support/startup_env.h"
#include "support/test_package.h"
#include "sim/sim.h"

namespace {
class PackageDigestTest : public HostTest {};

std::string DigestOf(const std::string& bytes) {
  u8 digest[kSha256Size];
  Sha256(bytes.data(), (u32)bytes.size(), digest);
  return std::string((const char*)digest, kSha256Size);
}

// Runs start-up with `package` and `digest` as resources 102 and 103 and
// the wizard cancelled at once; returns the exit code.
int RunWith(const StartupEnv& env, const std::string& package, const std::string* digest) {
  env.Install();
  HostSetResource(kPackageResourceType, kPackageResourceId, package.data(), (u32)package.size());
  if (digest)
    HostSetResource(kPackageResourceType, kPackageDigestResourceId, digest->data(),
                    (u32)digest->size());
  HostSetDialogScript([](WindowHandle dialog) { HostClick(dialog, 2); });
  return UpdaterMain(HostModule());
}

TEST_F(PackageDigestTest, MatchingDigestLetsTheRunReachTheWizard) {
  StartupEnv env(Root());
  const std::string package = env.PackageBytes();
  const std::string digest = DigestOf(package);
  EXPECT_EQ(RunWith(env, package, &digest), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].text, "アップデートが中断されました");
}

TEST_F(PackageDigestTest, WithoutDigestThePackageOpensAsBefore) {
  StartupEnv env(Root());
  EXPECT_EQ(RunWith(env, env.PackageBytes(), nullptr), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].text, "アップデートが中断されました");
}

struct DamageCase {
  const char* what;
  int flipPackageByte;  // -1: none; -2: the last byte
  int digestSize;
};

class PackageDamageTest : public HostTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(PackageDamageTest, EndsWithReadErrorBeforeAnythingIsWritten) {
  const DamageCase& c = GetParam();
  StartupEnv env(Root());
  std::string package = env.PackageBytes();
  std::string digest = DigestOf(package);
  digest.resize((size_t)c.digestSize, '\0');
  if (c.flipPackageByte == -2) package[package.size() - 1] ^= 1;
  else if (c.flipPackageByte >= 0) package[(size_t)c.flipPackageByte] ^= 0x40;
  EXPECT_EQ(RunWith(env, package, &digest), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].text, "RESOURCE READ ERROR");
  EXPECT_EQ(HostMessageBoxes()[0].caption, "UPDATE");
  EXPECT_TRUE(TestPathExists(env.tempFolder));
  EXPECT_TRUE(env.TempFiles().empty()) << "nothing may be extracted";
}

// The header byte flipped is an unused flag bit: without the digest that
// package would open, so only the digest can refuse it.
INSTANTIATE_TEST_SUITE_P(Damage, PackageDamageTest,
                         ::testing::Values(DamageCase{"unused header flag", 5, kSha256Size},
                                           DamageCase{"last byte", -2, kSha256Size},
                                           DamageCase{"short digest", -1, 16},
                                           DamageCase{"long digest", -1, 33}));
}  // namespace
