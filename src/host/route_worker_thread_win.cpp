#include <windows.h>

#include "host/route_worker.hpp"
#include "host/route_worker_thread_win.hpp"

namespace pathlight {

namespace {

DWORD WINAPI RouteWorkerThread(LPVOID reader) {
  try {
    RunRouteWorker(LibraryRouteWorkerHooks(reinterpret_cast<void (*)(GameSnapshot&)>(reader)));
  } catch (...) {
    // Nothing leaves a thread body; without the worker the route simply stays as it was.
  }
  return 0;
}

}  // namespace

void StartRouteWorkerThread(void (*readSnapshot)(GameSnapshot& snapshot)) {
  // Like every thread of the library: default stack, handle neither kept nor closed.
  CreateThread(nullptr, 0, &RouteWorkerThread, reinterpret_cast<LPVOID>(readSnapshot), 0, nullptr);
}

}  // namespace pathlight
