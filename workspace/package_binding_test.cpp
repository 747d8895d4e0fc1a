#include "workspace/package_binding.h"

#include <openssl/sha.h>

#include <filesystem>
#include <functional>

#include "testing/host_test_fixture.h"
#include "workspace/expansion.h"

namespace {

// SHA-256 of "abc" (FIPS 180-2, appendix B.1).
const char kDigestOfAbc[] =
    "\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
    "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad";

class PackageBindingTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    SetPackageWithSettings("[Install]\r\n");
    WriteFile("C:\\pkg\\Setup.cab", "abc");
  }

  static void Bind(const std::string& digest) { host::SetPackageBinding(platform::PackageBinding{true, digest}); }

  // The events that show the hold, the lock, the creation and the extraction, in order.
  std::vector<std::string> Order() {
    std::vector<std::string> order;
    for (const std::string& event : host::Events()) {
      for (const char* kind : {"hold:", "release", "lock:", "mkdir:", "start:", "wait"}) {
        if (event.rfind(kind, 0) == 0) order.push_back(kind);
      }
    }
    return order;
  }
};

TEST_F(PackageBindingTest, UnboundLauncherExpandsAnyCabinetWithoutHashingIt) {
  WriteCabinet();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Order(), (std::vector<std::string>{"lock:", "mkdir:", "start:", "wait"}));
  EXPECT_EQ(record_.cabinetDigest, "");
}

TEST_F(PackageBindingTest, MatchingCabinetIsHeldUntilTheExtractionHasEnded) {
  WriteCabinet();
  std::string cabinet = ReadFile("C:\\pkg\\Setup.cab");
  unsigned char digest[32];
  SHA256(reinterpret_cast<const unsigned char*>(cabinet.data()), cabinet.size(), digest);
  Bind(std::string(reinterpret_cast<const char*>(digest), 32));
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files..."}));
  EXPECT_EQ(Order(), (std::vector<std::string>{"hold:", "lock:", "mkdir:", "start:", "wait", "release"}));
  EXPECT_EQ(EventsStartingWith("hold:"), (std::vector<std::string>{"hold:C:\\pkg\\Setup.cab"}));
  EXPECT_EQ(record_.cabinetDigest, std::string(reinterpret_cast<const char*>(digest), 32));
}

TEST_F(PackageBindingTest, OtherOrUnreadableCabinetStartsAndCreatesNothing) {
  struct Case {
    const char* what;
    std::string digest;
    std::function<void()> arrange;
  };
  for (const Case& c : std::vector<Case>{
           {"one byte changed", std::string(kDigestOfAbc, 32), [&] { WriteFile("C:\\pkg\\Setup.cab", "abd"); }},
           {"another cabinet's hash", std::string(32, '\x11'), [] {}},
           {"a read that fails midway", std::string(kDigestOfAbc, 32), [] { host::FailReadingAfter("Setup.cab", 1); }},
           {"a cabinet that cannot be opened", std::string(kDigestOfAbc, 32), [] { host::FailOpening("Setup.cab"); }},
           {"a directory in the cabinet's place", std::string(kDigestOfAbc, 32), [&] {
              std::filesystem::remove(host::HostPath("C:\\pkg\\Setup.cab"));
              MakeDirectories("C:\\pkg\\Setup.cab");
            }}}) {
    SCOPED_TRACE(c.what);
    TearDown();  // a fresh stand-in for each case
    SetUp();
    Bind(c.digest);
    c.arrange();
    EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"The package cabinet does not match this launcher."}));
    EXPECT_TRUE(host::StartedPrograms().empty());
    EXPECT_TRUE(EventsStartingWith("lock:").empty());
    EXPECT_FALSE(Exists(kExpansionDirectory));
  }
}

TEST_F(PackageBindingTest, SecondLauncherReleasesTheCabinetAndTouchesNothing) {
  Bind(std::string(kDigestOfAbc, 32));
  host::HoldLockElsewhere(TempLockName());
  EXPECT_EQ(ExpandPackage(&record_), Expansion::InUse);
  EXPECT_EQ(Order(), (std::vector<std::string>{"hold:", "lock:", "release"}));
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
