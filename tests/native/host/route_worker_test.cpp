// The route worker over a driven snapshot and a recording search: when it searches, what it
// publishes, the "Route:" line, the keep rule's edges, the wait for roads, and readers' copies.
#include "host/route_worker.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "roads/byte_fixtures.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"
#include "settings_edit.hpp"

namespace pathlight {
namespace {

class RouteWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PublishRoute(nullptr);
    Flags().RerouteRequested.store(0);
    PublishSettings(Settings{});
    snapshot.playerValid = 1;
    snapshot.playerX = 0;
    snapshot.playerY = 12;
    snapshot.playerZ = 0;
    snapshot.waypointValid = 1;
    snapshot.waypointX = 1000;
    snapshot.waypointZ = 0;
    snapshot.mountState = kMountOnFoot;
    services.tickCount = [this] { return tick += 7; };
    // A route along z = 0 through one road point of known height, ends unknown.
    services.search = [this](GroundPoint start, GroundPoint goal, const RouteWeights& weights, float,
                             std::vector<float>* heights) {
      ++searches;
      lastWeights = weights;
      if (onePoint) {
        *heights = {NAN};
        return std::vector<GroundPoint>{start};
      }
      *heights = {NAN, 30, NAN, NAN};
      return std::vector<GroundPoint>{start, {start.x + 10, 0}, {goal.x - 10, 0}, goal};
    };
  }
  void TearDown() override {
    PublishRoute(nullptr);
    PublishSettings(Settings{});
  }

  // One pass; returns its log messages.
  std::vector<std::string> Pass() {
    ::testing::internal::CaptureStdout();
    RunRoutePass(snapshot, services);
    std::vector<std::string> log = testing::LogMessages(::testing::internal::GetCapturedStdout());
    if (!log.empty() && log.back() == "BAD: ") log.pop_back();
    return log;
  }

  GameSnapshot snapshot;
  RoutePassServices services;
  std::uint32_t tick = 100;
  int searches = 0;
  bool onePoint = false;
  RouteWeights lastWeights{};
};

TEST_F(RouteWorkerTest, AWaypointIsSearchedOnceAndClearingItEmptiesTheRoute) {
  snapshot.waypointValid = 0;
  EXPECT_TRUE(Pass().empty());
  EXPECT_FALSE(GetCurrentRoute());
  EXPECT_EQ(searches, 0);

  snapshot.waypointValid = 1;
  EXPECT_EQ(Pass(), std::vector<std::string>{"Route: (0,0) -> (1000,0): 4 points in 7 ms"});
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(searches, 1);
  const RoutePtr route = GetCurrentRoute();
  ASSERT_TRUE(route);
  EXPECT_EQ(route->goalX, 1000);
  EXPECT_FALSE(route->wagon);
  // Heights: the player's first, then the last known one carried over the unknown ones.
  EXPECT_EQ(route->heights, (std::vector<float>{12, 30, 30, 30}));

  snapshot.waypointValid = 0;
  EXPECT_TRUE(Pass().empty());
  EXPECT_FALSE(GetCurrentRoute());
  snapshot.playerValid = 0;
  snapshot.waypointValid = 1;
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(searches, 1);
}

TEST_F(RouteWorkerTest, AWaypointMovedByMoreThanAMetreIsANewOne) {
  (void)Pass();
  snapshot.waypointX += 0.5f;
  (void)Pass();
  EXPECT_EQ(searches, 1);
  snapshot.waypointX += 1.5f;
  EXPECT_EQ(Pass(), std::vector<std::string>{"Route: (0,0) -> (1002,0): 4 points in 7 ms"});
  EXPECT_EQ(searches, 2);
}

TEST_F(RouteWorkerTest, WalkingAlongKeepsTheRouteAndStrayingSearchesAgain) {
  (void)Pass();
  for (const float x : {100.0f, 500.0f, 990.0f}) {
    snapshot.playerX = x;
    snapshot.playerZ = 3;
    (void)Pass();
  }
  snapshot.playerX = 500;
  snapshot.playerZ = 25;  // exactly the reroute distance from the line
  (void)Pass();
  EXPECT_EQ(searches, 1);
  snapshot.playerZ = 25.01f;
  (void)Pass();
  EXPECT_EQ(searches, 2);

  testing::EditSettings([](Settings& s) { s.rerouteDistance = 40; });
  snapshot.playerX = 0;
  snapshot.playerZ = 0;
  Flags().RerouteRequested.store(1);
  (void)Pass();
  EXPECT_EQ(searches, 3);
  snapshot.playerX = 500;
  snapshot.playerZ = -39;
  (void)Pass();
  EXPECT_EQ(searches, 3);
  snapshot.playerZ = -41;
  (void)Pass();
  EXPECT_EQ(searches, 4);
}

TEST_F(RouteWorkerTest, MountingAWagonSearchesWithWagonWeightsOnlyWhenEnabled) {
  (void)Pass();
  snapshot.mountState = kMountWagon;
  EXPECT_EQ(Pass(), std::vector<std::string>{"Route: (0,0) -> (1000,0): 4 points in 7 ms (wagon roads)"});
  EXPECT_TRUE(GetCurrentRoute()->wagon);
  EXPECT_EQ(lastWeights.offRoad, 4.0f);
  EXPECT_EQ(lastWeights.Factor(RoadType::Wide), 0.6f);
  snapshot.mountState = kMountRiding;
  (void)Pass();
  EXPECT_EQ(searches, 3);
  EXPECT_EQ(lastWeights.offRoad, 2.5f);

  testing::EditSettings([](Settings& s) { s.wagonRoutingEnabled = false; });
  snapshot.mountState = kMountWagon;
  EXPECT_TRUE(Pass().empty());
  EXPECT_EQ(searches, 3);
}

TEST_F(RouteWorkerTest, AReloadSearchesExactlyOnceAndWaitsForAKnownPosition) {
  (void)Pass();
  Flags().RerouteRequested.store(1);
  (void)Pass();
  (void)Pass();
  EXPECT_EQ(searches, 2);
  EXPECT_EQ(Flags().RerouteRequested.load(), 0);

  // Without a waypoint the request stays raised for the next pass that has one.
  Flags().RerouteRequested.store(1);
  snapshot.waypointValid = 0;
  (void)Pass();
  EXPECT_EQ(Flags().RerouteRequested.load(), 1);
  snapshot.waypointValid = 1;
  (void)Pass();
  EXPECT_EQ(searches, 3);
}

TEST_F(RouteWorkerTest, AOnePointRouteIsSearchedAgainNextPass) {
  onePoint = true;
  EXPECT_EQ(Pass(), std::vector<std::string>{"Route: (0,0) -> (1000,0): 1 points in 7 ms"});
  EXPECT_EQ(GetCurrentRoute()->heights, std::vector<float>{12});
  (void)Pass();
  EXPECT_EQ(searches, 2);
  Route line;
  line.points = {{0, 0}};
  EXPECT_EQ(DistanceToRoute(line, 0, 0), 1e15);
  line.points = {{0, 0}, {0, 0}, {10, 0}};  // a zero-length piece measures from its point
  EXPECT_EQ(DistanceToRoute(line, -3, 4), 5);
  EXPECT_EQ(DistanceToRoute(line, 5, -2), 2);
}

TEST_F(RouteWorkerTest, ReadersKeepARouteAliveAfterItIsReplaced) {
  (void)Pass();
  const RoutePtr held = GetCurrentRoute();
  ASSERT_TRUE(held);
  EXPECT_EQ(held.use_count(), 2);  // the reader's copy and the current route
  snapshot.waypointX = 2000;
  (void)Pass();
  EXPECT_NE(GetCurrentRoute(), held);
  EXPECT_EQ(held.use_count(), 1);  // the worker let go inside the lock; the reader still has it
  EXPECT_EQ(held->goalX, 1000);
  EXPECT_EQ(held->points.size(), 4u);
}

TEST_F(RouteWorkerTest, TheThreadWaitsForTheRoadsThenPollsAndSurvivesAFailingSearch) {
  std::vector<std::uint32_t> sleeps;
  int readiness = 0, reads = 0;
  RouteWorkerServices worker;
  worker.pass = services;
  worker.pass.search = [&](GroundPoint, GroundPoint, const RouteWeights&, float,
                           std::vector<float>*) -> std::vector<GroundPoint> {
    ++searches;
    throw std::bad_alloc();
  };
  worker.roadsReady = [&] { return ++readiness > 3; };
  worker.readSnapshot = [&](GameSnapshot& s) {
    ++reads;
    s = snapshot;
  };
  worker.sleep = [&](std::uint32_t ms) { sleeps.push_back(ms); };
  worker.keepRunning = [&] { return sleeps.size() < 6; };
  ::testing::internal::CaptureStdout();
  RunRouteWorker(worker);
  (void)::testing::internal::GetCapturedStdout();
  EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{200, 200, 200, 50, 50, 50}));
  EXPECT_EQ(reads, 3);  // nothing read while the roads load
  EXPECT_EQ(searches, 3);
  EXPECT_FALSE(GetCurrentRoute());
}

}  // namespace
}  // namespace pathlight
