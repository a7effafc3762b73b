#include <windows.h>

#include "platform/log.hpp"
#include "platform/threads.hpp"

namespace pathlight {

namespace {

DWORD WINAPI RunBody(LPVOID body) {
  try {
    reinterpret_cast<ThreadBody>(body)();
  } catch (...) {
    // The thread ends; the library stays as far as that thread got.
  }
  return 0;
}

}  // namespace

bool StartThread(const char* name, ThreadBody body, StartFailure failure) {
  const HANDLE thread = CreateThread(nullptr, 0, &RunBody, reinterpret_cast<LPVOID>(body), 0, nullptr);
  if (thread == nullptr) {
    if (failure == StartFailure::Log) Log("Init: could not start the %s thread (error %lu)", name, GetLastError());
    return false;
  }
  return true;
}

}  // namespace pathlight
