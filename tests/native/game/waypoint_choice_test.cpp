// The waypoint choice among a scan's candidates: the map-marker rule, a fresh icon over the
// current one, the current one kept, the first one, and the seen list it hands to the next tick.
#include "game/waypoint_choice.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace pathlight {
namespace {

constexpr std::uint64_t kA = 0x10020000, kB = 0x10021000, kC = 0x10022000;

WaypointCandidate At(std::uint64_t icon, float y) { return {icon, {10, y, 20}}; }

struct ChoiceCase {
  const char* name;
  std::vector<WaypointCandidate> candidates;
  std::vector<std::uint64_t> seen;
  std::uint64_t current;
  std::uint64_t icon;
  std::size_t count;
  std::vector<std::uint64_t> nextSeen;
};

class WaypointChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(WaypointChoiceTest, PicksAndHandsOnTheSeenIcons) {
  const ChoiceCase& c = GetParam();
  const WaypointChoice choice = ChooseWaypoint(c.candidates, c.seen, c.current);
  EXPECT_EQ(choice.icon, c.icon);
  EXPECT_EQ(choice.candidates, c.count);
  EXPECT_EQ(choice.seen, c.nextSeen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaypointChoiceTest,
    ::testing::Values(
        ChoiceCase{"NoCandidateNoWaypoint", {}, {kA}, kA, 0, 0, {}},
        // A marker just set is new: it wins although the old pick is still a candidate and comes
        // first in scan order.
        ChoiceCase{"NewIconWinsOverTheCurrentOne", {At(kA, 7), At(kB, 2)}, {kA}, kA, kB, 2, {kA, kB}},
        ChoiceCase{"SameIconsKeepTheCurrentOne", {At(kA, 7), At(kB, 2)}, {kA, kB}, kB, kB, 2, {kA, kB}},
        ChoiceCase{"CurrentGoneTheFirstOne", {At(kB, 7), At(kA, 2)}, {kA, kB}, kC, kB, 2, {kA, kB}},
        // Map markers lie on the map's plane: a new icon off it loses to one at height 0, and the
        // others are not candidates (nor seen) at all.
        ChoiceCase{"MapMarkersAtHeightZeroComeFirst", {At(kA, 7), At(kB, 0.0f), At(kC, 3)}, {kA}, kA, kB, 1, {kB}},
        ChoiceCase{"SeenAscendingEachOnce", {At(kC, 1), At(kA, 1), At(kC, 1)}, {}, 0, kC, 3, {kA, kC}}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pathlight
