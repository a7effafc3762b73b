#include <windows.h>

#include "roads/road_loader.hpp"
#include "roads/road_loader_thread_win.hpp"

namespace pathlight {

namespace {

DWORD WINAPI RoadLoaderThread(LPVOID) {
  try {
    LoadRoads();
  } catch (...) {
    // Out of memory on a huge or hostile folder: nothing is published, routes stay straight lines.
  }
  return 0;
}

}  // namespace

void StartRoadLoader() {
  // Like every thread of the library: default stack, handle neither kept nor closed.
  CreateThread(nullptr, 0, &RoadLoaderThread, nullptr, 0, nullptr);
}

}  // namespace pathlight
