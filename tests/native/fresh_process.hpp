// The process-wide records as a fresh process has them, put back around the tests that change
// them: the default settings, no route, the run flags at their starting values.
#pragma once

#include <gtest/gtest.h>

#include "routing/current_route.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"

namespace pathlight::testing {

inline void ResetProcessRecords() {
  PublishSettings(Settings{});
  PublishRoute(nullptr);
  Flags().MinimapRouteShown = 1;
  Flags().WorldRouteShown = 1;
  Flags().ReloadRequested = 0;
  Flags().RerouteRequested = 0;
  Flags().RebuildRequested = 0;
}

// A fixture that leaves the process-wide records as a fresh process has them, whatever a test did.
class FreshProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessRecords(); }
  void TearDown() override { ResetProcessRecords(); }
};

}  // namespace pathlight::testing
