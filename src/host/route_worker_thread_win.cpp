#include "host/route_worker.hpp"
#include "host/route_worker_thread_win.hpp"
#include "platform/threads.hpp"

namespace pathlight {

namespace {

// Set once before the thread starts, which orders it before the thread's first read.
void (*g_readSnapshot)(GameSnapshot&) = nullptr;

void RouteWorkerThread() {
  try {
    RunRouteWorker(LibraryRouteWorkerHooks(g_readSnapshot));
  } catch (...) {
    // Nothing leaves a thread body; without the worker the route simply stays as it was.
  }
}

}  // namespace

void StartRouteWorkerThread(void (*readSnapshot)(GameSnapshot& snapshot)) {
  g_readSnapshot = readSnapshot;
  StartThread("route worker", &RouteWorkerThread);
}

}  // namespace pathlight
