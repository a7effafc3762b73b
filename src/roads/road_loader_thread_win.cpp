#include "platform/threads.hpp"
#include "roads/road_loader.hpp"
#include "roads/road_loader_thread_win.hpp"

namespace pathlight {

namespace {

void RoadLoaderThread() {
  try {
    LoadRoads();
  } catch (...) {
    // Out of memory on a huge or hostile folder: nothing is published, routes stay straight lines.
  }
}

}  // namespace

void StartRoadLoader() { StartThread("road loader", &RoadLoaderThread); }

}  // namespace pathlight
