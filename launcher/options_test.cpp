#include "launcher/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/process_state.h"

namespace {

RunResult Parse(std::vector<std::string> arguments) {
  launchOptions = LaunchOptions();
  arguments.insert(arguments.begin(), "C:\\pkg\\Setup.exe");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(ParseCommandLine, NoArgumentsRunWithEmptyOptions) {
  EXPECT_EQ(Parse({}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "");
  EXPECT_FALSE(launchOptions.portGiven || launchOptions.addressGiven || launchOptions.languageGiven ||
               launchOptions.portIsNetworkShare);
}

TEST(ParseCommandLine, OptionsFoldCaseButValuesKeepIt) {
  EXPECT_EQ(Parse({"/PORT:LPT1:", "/Address:Printer.Example", "/L:DE"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "LPT1:");
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);
  EXPECT_EQ(launchOptions.printerAddress, "Printer.Example");
  EXPECT_TRUE(launchOptions.addressGiven);
  EXPECT_EQ(launchOptions.languageCode, "/L:DE");
  EXPECT_TRUE(launchOptions.languageGiven);
}

TEST(ParseCommandLine, TextBeforeAnOptionIsIgnored) {
  EXPECT_EQ(Parse({"xx/port:LPT1"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "LPT1");
}

TEST(ParseCommandLine, FirstOptionInFixedOrderDecides) {
  EXPECT_EQ(Parse({"x/port:a/l:b"}), RunResult::Run);
  EXPECT_EQ(launchOptions.languageCode, "/l:b");
  EXPECT_FALSE(launchOptions.portGiven);

  EXPECT_EQ(Parse({"/port:a/?"}), RunResult::Help);
  EXPECT_EQ(Parse({"/address:/port:x"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "x");
  EXPECT_FALSE(launchOptions.addressGiven);
}

TEST(ParseCommandLine, ValuesAreCutAtTheirLimits) {
  EXPECT_EQ(Parse({"/l:abcdefgh"}), RunResult::Run);
  EXPECT_EQ(launchOptions.languageCode, "/l:abcdef");

  std::string longValue(300, 'p');
  Parse({"/port:" + longValue, "/address:" + longValue});
  EXPECT_EQ(launchOptions.portName, std::string(255, 'p'));
  EXPECT_EQ(launchOptions.printerAddress, std::string(255, 'p'));
}

TEST(ParseCommandLine, EmptyValues) {
  EXPECT_EQ(Parse({"/port:", "/address:", "/l:"}), RunResult::Run);
  EXPECT_FALSE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.addressGiven);
  EXPECT_EQ(launchOptions.languageCode, "/l:");
  EXPECT_TRUE(launchOptions.languageGiven);
}

TEST(ParseCommandLine, LaterOccurrenceReplacesTextAndFlags) {
  Parse({"/port:a", "/port:b"});
  EXPECT_EQ(launchOptions.portName, "b");

  Parse({"/port:\\\\srv\\prn", "/port:LPT1"});
  EXPECT_EQ(launchOptions.portName, "LPT1");
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);

  Parse({"/port:a", "/port:", "/address:x", "/address:"});
  EXPECT_FALSE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.addressGiven);
}

TEST(ParseCommandLine, StopsAtTheFirstBadArgument) {
  EXPECT_EQ(Parse({"/port:x", "/bogus", "/?"}), RunResult::Invalid);
  EXPECT_EQ(launchOptions.portName, "x");

  EXPECT_EQ(Parse({"/?", "/bogus"}), RunResult::Help);
}

TEST(ParseCommandLine, ArgumentsThatAreNoOption) {
  for (const char* argument : {"", "/port", "-port:x", "port:x", "/addr:x", "/L"}) {
    EXPECT_EQ(Parse({argument}), RunResult::Invalid) << "argument: " << argument;
  }
}

TEST(ParseCommandLine, BytesAboveAsciiAreNotFolded) {
  // 0xC4 is not a letter A-Z; it must neither match nor shift positions.
  EXPECT_EQ(Parse({"\xC4/PORT:\xC4X"}), RunResult::Run);
  EXPECT_EQ(launchOptions.portName, "\xC4X");
}

TEST(IsNetworkSharePath, Examples) {
  EXPECT_TRUE(IsNetworkSharePath("\\\\srv\\prn"));
  EXPECT_TRUE(IsNetworkSharePath("\\\\srv\\prn\\x"));
  EXPECT_FALSE(IsNetworkSharePath("\\\\srv"));
  EXPECT_FALSE(IsNetworkSharePath("LPT1:"));
  EXPECT_FALSE(IsNetworkSharePath("x\\\\srv\\prn"));
  EXPECT_FALSE(IsNetworkSharePath(""));
}

TEST(ParseCommandLine, ShareFlagFollowsThePortName) {
  Parse({"/port:\\\\srv\\prn"});
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_TRUE(launchOptions.portIsNetworkShare);
  Parse({"/port:\\\\srv"});
  EXPECT_TRUE(launchOptions.portGiven);
  EXPECT_FALSE(launchOptions.portIsNetworkShare);
}

}  // namespace
