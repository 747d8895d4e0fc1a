#include "workspace/cabinet_listing.h"

#include <filesystem>

#include "testing/host_test_fixture.h"
#include "tools/cabinet_table.h"
#include "workspace/expansion.h"

namespace {

const std::vector<CabinetFile> kFiles = {{"install\\component.isf", false, 12},
                                         {"install\\Gr\xc3\xbc\xc3\x9f.txt", true, 0}};

TEST(ParseCabinetListing, ReadsNamesFlagsAndSizesAndRefusesWhatIsNoWholeTable) {
  std::string cabinet = CabinetTableBytes(kFiles);
  std::optional<std::vector<CabinetFile>> files = ParseCabinetListing(cabinet);
  ASSERT_TRUE(files);
  ASSERT_EQ(files->size(), 2u);
  EXPECT_EQ((*files)[0].name, "install\\component.isf");
  EXPECT_EQ((*files)[0].size, 12u);
  EXPECT_FALSE((*files)[0].nameIsUtf8);
  EXPECT_EQ((*files)[1].name, "install\\Gr\xc3\xbc\xc3\x9f.txt");
  EXPECT_TRUE((*files)[1].nameIsUtf8);
  EXPECT_EQ(ParseCabinetListing(CabinetTableBytes({}))->size(), 0u);

  EXPECT_FALSE(ParseCabinetListing(cabinet.substr(0, cabinet.size() - 1))) << "the last name cut short";
  EXPECT_FALSE(ParseCabinetListing(cabinet.substr(0, 35))) << "the header cut short";
  EXPECT_FALSE(ParseCabinetListing("MSCG" + cabinet.substr(4))) << "another signature";
  std::string table = cabinet;
  table[16] = '\x10';  // the table would start inside the header
  EXPECT_FALSE(ParseCabinetListing(table));
  table = cabinet;
  table[44 + 16] = '\0';  // an empty name
  EXPECT_FALSE(ParseCabinetListing(table));
  for (char set : {'\1', '\2'}) {
    table = cabinet;
    table[30] = set;  // continued from or in another cabinet, which extrac32.exe /A would follow
    EXPECT_FALSE(ParseCabinetListing(table));
  }
}

class ExpansionShortfallTest : public LauncherTest {
 protected:
  std::string Shortfall() { return ExpansionShortfall(kExpansionDirectory, "C:\\pkg\\Setup.cab"); }
};

TEST_F(ExpansionShortfallTest, EveryListedFileWithItsSizeOrTheLineThatSaysWhatIsNot) {
  SetPackage({{"install\\a.bin", std::string(3000, 'a')}, {"install\\b.bin", "b"}, {"install\\c.bin", "c"}});
  WriteCabinet();
  WriteFile(std::string(kExpansionDirectory) + "\\install\\a.bin", std::string(3000, 'a'));
  WriteFile(std::string(kExpansionDirectory) + "\\install\\b.bin", "b");
  WriteFile(std::string(kExpansionDirectory) + "\\install\\c.bin", "c");
  EXPECT_EQ(Shortfall(), "");

  WriteFile(std::string(kExpansionDirectory) + "\\install\\a.bin", std::string(3001, 'a'));
  EXPECT_EQ(Shortfall(), "Unable to expand the package: install\\a.bin has 3001 of 3000 bytes.");
  WriteFile(std::string(kExpansionDirectory) + "\\install\\a.bin", std::string(843, 'a'));  // the disk filled
  EXPECT_EQ(Shortfall(), "Unable to expand the package: install\\a.bin has 843 of 3000 bytes.");
  std::filesystem::remove(host::HostPath(std::string(kExpansionDirectory) + "\\install\\c.bin"));
  EXPECT_EQ(Shortfall(),
            "Unable to expand the package: install\\a.bin has 843 of 3000 bytes, and 1 more of its 3 files are missing "
            "or cut short.");

  WriteFile("C:\\pkg\\Setup.cab", CabinetTableBytes({}));
  EXPECT_EQ(Shortfall(), "Unable to expand the package: the package cabinet holds no files.");
  WriteFile("C:\\pkg\\Setup.cab", "MSCF garbage");
  EXPECT_EQ(Shortfall(), "Unable to expand the package: the package cabinet is damaged or is no cabinet.");
  // A name that stands twice was written twice: the later entry is what the disk holds.
  host::SetFileNamesIgnoreCase(true);
  WriteFile("C:\\pkg\\Setup.cab", CabinetTableBytes({{"install\\b.bin", false, 5}, {"INSTALL\\B.BIN", false, 1}}));
  EXPECT_EQ(Shortfall(), "");
  WriteFile("C:\\pkg\\Setup.cab", CabinetTableBytes({{"install\\b.bin", false, 1}, {"INSTALL\\B.BIN", false, 5}}));
  EXPECT_EQ(Shortfall(), "Unable to expand the package: INSTALL\\B.BIN has 1 of 5 bytes.");
}

}  // namespace
