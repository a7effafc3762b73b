// StartThread against real threads: the body runs on a thread of its own, and a body that throws
// ends only its thread (a throw out of a thread procedure would end the whole process).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/threads.hpp"

namespace pathlight {
namespace {

HANDLE g_ran = nullptr;
std::atomic<DWORD> g_bodyThread{0};

void MarkAndThrow() {
  g_bodyThread = GetCurrentThreadId();
  SetEvent(g_ran);
  throw 1;
}

void Mark() {
  g_bodyThread = GetCurrentThreadId();
  SetEvent(g_ran);
}

TEST(StartThread, RunsTheBodyOnItsOwnThreadAndOutlivesABodyThatThrows) {
  g_ran = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(g_ran, nullptr);
  for (const ThreadBody body : {&MarkAndThrow, &Mark}) {
    ASSERT_TRUE(StartThread("test", body));
    ASSERT_EQ(WaitForSingleObject(g_ran, 60000), WAIT_OBJECT_0);
    EXPECT_NE(g_bodyThread.load(), GetCurrentThreadId());
  }
  CloseHandle(g_ran);
}

}  // namespace
}  // namespace pathlight
