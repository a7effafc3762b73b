#include "game/game_readers.hpp"
#include "host/route_worker.hpp"
#include "host/route_worker_thread_win.hpp"
#include "platform/threads.hpp"

namespace pathlight {

namespace {

void RouteWorkerThread() {
  try {
    RunRouteWorker(LibraryRouteWorkerServices([](GameSnapshot& snapshot) { ReadGameSnapshot(snapshot); }));
  } catch (...) {
    // Nothing leaves a thread body; without the worker the route simply stays as it was.
  }
}

}  // namespace

void StartRouteWorkerThread() { StartThread("route worker", &RouteWorkerThread); }

}  // namespace pathlight
