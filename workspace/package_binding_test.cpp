#include "workspace/package_binding.h"

#include <openssl/sha.h>

#include <filesystem>
#include <functional>

#include "common/package_layout.h"
#include "testing/host_test_fixture.h"
#include "workspace/expansion.h"

namespace {

const char kCopy[] = "C:\\Temp\\TempExpandedFiles\\package-00005eed.cab";

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

  static void Bind(const std::string& digest) { host::SetOwnResource("PACKAGE_BINDING", BoundRegion(digest)); }

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

TEST_F(PackageBindingTest, AMatchingCabinetIsExpandedFromItsPrivateCopy) {
  WriteCabinet();
  std::string cabinet = ReadFile("C:\\pkg\\Setup.cab");
  unsigned char digest[32];
  SHA256(reinterpret_cast<const unsigned char*>(cabinet.data()), cabinet.size(), digest);
  Bind(std::string(reinterpret_cast<const char*>(digest), 32));
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files..."}));
  // The original is held until the copy is made, and the copy is what extrac32.exe expands.
  EXPECT_EQ(Order(), (std::vector<std::string>{"hold:", "lock:", "mkdir:", "release", "start:", "wait"}));
  EXPECT_EQ(EventsStartingWith("hold:"), (std::vector<std::string>{"hold:C:\\pkg\\Setup.cab"}));
  EXPECT_EQ(host::StartedPrograms()[0].parameters,
            "/Y /A /E /L \"C:\\Temp\\TempExpandedFiles\" \"" + std::string(kCopy) + "\"");
  EXPECT_FALSE(Exists(kCopy)) << "removed before the installer";
  EXPECT_EQ(record_.cabinetDigest, std::string(reinterpret_cast<const char*>(digest), 32));
}

TEST_F(PackageBindingTest, OtherOrUnreadableCabinetStartsNothingAndLeavesNothing) {
  const std::string refused = "The package cabinet does not match this launcher.";
  const std::string notCopied =
      "Unable to use the temporary directory: the package cabinet could not be read and copied into it whole.";
  struct Case {
    const char* what;
    std::string digest;
    std::function<void()> arrange;
    std::vector<std::string> lines;
  };
  for (const Case& c : std::vector<Case>{
           {"one byte changed",
            std::string(kDigestOfAbc, 32),
            [&] { WriteFile("C:\\pkg\\Setup.cab", "abd"); },
            {"Creating Temporary Directory...", refused}},
           {"another cabinet's hash", std::string(32, '\x11'), [] {}, {"Creating Temporary Directory...", refused}},
           {"a read that fails midway",
            std::string(kDigestOfAbc, 32),
            [] { host::FailReadingAfter("Setup.cab", 1); },
            {"Creating Temporary Directory...", notCopied}},
           {"a copy the disk cannot hold",
            std::string(kDigestOfAbc, 32),
            [] { host::FailWritingAfter(".cab", 1); },
            {"Creating Temporary Directory...", notCopied}},
           {"a cabinet that cannot be opened",
            std::string(kDigestOfAbc, 32),
            [] { host::FailOpening("Setup.cab"); },
            {refused}},
           {"a directory in the cabinet's place",
            std::string(kDigestOfAbc, 32),
            [&] {
              std::filesystem::remove(host::HostPath("C:\\pkg\\Setup.cab"));
              MakeDirectories("C:\\pkg\\Setup.cab");
            },
            {refused}}}) {
    SCOPED_TRACE(c.what);
    TearDown();  // a fresh stand-in for each case
    SetUp();
    Bind(c.digest);
    c.arrange();
    EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
    EXPECT_EQ(Lines(), c.lines);
    EXPECT_TRUE(host::StartedPrograms().empty());
    EXPECT_FALSE(Exists(kExpansionDirectory)) << "nothing left in temp";
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

TEST_F(PackageBindingTest, ALauncherThatCarriesItsCabinetExpandsThatOneOnly) {
  // The launcher's file: its image, then the cabinet; a planted Setup.cab beside it is never read.
  WriteCabinet();
  std::string cabinet = ReadFile("C:\\pkg\\Setup.cab");
  WriteFile("C:\\pkg\\Setup.cab", "planted");
  WriteFile("C:\\pkg\\Setup.exe", "MZ launcher image" + cabinet);
  unsigned char digest[32];
  SHA256(reinterpret_cast<const unsigned char*>(cabinet.data()), cabinet.size(), digest);
  std::string hash(reinterpret_cast<const char*>(digest), 32);
  const unsigned long at = 17;
  const auto size = static_cast<unsigned long>(cabinet.size());
  host::SetOwnResource("PACKAGE_BINDING", CarriedRegion(hash, at, size));
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(EventsStartingWith("hold:"), (std::vector<std::string>{"hold:C:\\pkg\\Setup.exe"}));
  EXPECT_EQ(record_.cabinetDigest, hash);
  EXPECT_EQ(record_.cabinetSize, size);
  EXPECT_FALSE(Exists(kCopy)) << "removed before the installer";

  // An extent past the file's end, or a changed hash: refused before anything is created or started.
  for (const std::string& region :
       {CarriedRegion(hash, at, size + 1), CarriedRegion(std::string(32, '\x11'), at, size)}) {
    TearDown();
    SetUp();
    WriteFile("C:\\pkg\\Setup.exe", "MZ launcher image" + cabinet);
    host::SetOwnResource("PACKAGE_BINDING", region);
    EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
    EXPECT_EQ(Lines().back(), "The package cabinet does not match this launcher.");
    EXPECT_TRUE(host::StartedPrograms().empty());
    EXPECT_FALSE(Exists(kExpansionDirectory));
  }
}

TEST_F(PackageBindingTest, TheIdentityIsReadOnlyFromARegionThatCarriesItWhole) {
  const std::string digest(32, '\x22');
  const PackageIdentity named{"Drucker B\xfcro", "2.1.0-rc1", "Contoso"};
  // A name that fills its field, the next field empty: no zero of its own.
  std::string unterminated = WithIdentity(BoundRegion(digest), {"", "", "Contoso"});
  unterminated.replace(PACKAGE_BINDING_CARRIED_SIZE, PACKAGE_IDENTITY_NAME_FIELD,
                       std::string(PACKAGE_IDENTITY_NAME_FIELD, 'x'));
  struct Case {
    std::string region;
    std::string text;
  } cases[] = {
      {WithIdentity(BoundRegion(digest), named), "Drucker B\xfcro 2.1.0-rc1"},
      {WithIdentity(CarriedRegion(digest, 512, 36), named), "Drucker B\xfcro 2.1.0-rc1"},
      // The preview's launcher: not bound, but named.
      {WithIdentity(std::string(PACKAGE_BINDING_MAGIC) + std::string(40, '\0'), named), "Drucker B\xfcro 2.1.0-rc1"},
      // Made without a name, built before names, one byte short of them, or damaged.
      {WithIdentity(BoundRegion(digest), {}), "none"},
      {CarriedRegion(digest, 512, 36), "none"},
      {WithIdentity(BoundRegion(digest), named).substr(0, PACKAGE_BINDING_IDENTITY_SIZE - 1), "none"},
      {unterminated, "none"},
  };
  for (const Case& c : cases) {
    host::SetOwnResource("PACKAGE_BINDING", c.region);
    PackageBinding binding = ReadPackageBinding();
    EXPECT_EQ(PackageIdentityText(binding.identity), c.text) << c.region.size();
    EXPECT_EQ(binding.digest.empty(), c.region[PACKAGE_BINDING_MAGIC_SIZE] == '\0') << "the binding as before";
  }
  EXPECT_EQ(ReadPackageBinding().identity.company, "") << "nothing of a damaged identity";
  host::SetOwnResource("PACKAGE_BINDING", WithIdentity(BoundRegion(digest), named));
  EXPECT_EQ(ReadPackageBinding().identity.company, "Contoso");
}
