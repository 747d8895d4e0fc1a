#include "common/run_record.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

TEST(ExitCodeOf, WindowsInstallersCodesAndTheLaunchersOwnWithoutTheOption) {
  RunRecord record;
  record.installerExitCode = 3010;
  for (auto [outcome, msi, plain] :
       std::vector<std::tuple<Outcome, int, int>>{{Outcome::Installed, 3010, 0},
                                                  {Outcome::Help, 0, 0},
                                                  {Outcome::AnotherInstance, 1618, 1},
                                                  {Outcome::InvalidParameters, 1639, 10},
                                                  {Outcome::PortOptionsMissing, 1639, 10},
                                                  {Outcome::NoInstallerForMachine, 1633, 10},
                                                  {Outcome::InstallerTimedOut, 1603, 10},
                                                  {Outcome::ExpansionIncomplete, 1603, 10},
                                                  {Outcome::WorkspaceReplaced, 1603, 10}}) {
    EXPECT_EQ(ExitCodeOf(outcome, record, true), msi);
    EXPECT_EQ(ExitCodeOf(outcome, record, false), plain);
  }
}

}  // namespace
