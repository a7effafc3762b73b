// The renderer's fence wait on a real fence: a wake-up left behind by a wait that timed out does
// not pass for the value being waited on.
#include <d3d12.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "render12/fence_wait_win.hpp"

namespace pathlight {
namespace {

TEST(FenceWait, AnOlderRegistrationsWakeUpIsNotTakenForTheValue) {
  ID3D12Device* device = nullptr;
  ASSERT_HRESULT_SUCCEEDED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device)));
  ID3D12Fence* fence = nullptr;
  ASSERT_HRESULT_SUCCEEDED(device->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence)));
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  // A frame's wait for value 1 times out and leaves its registration behind.
  EXPECT_FALSE(WaitForFence(fence, event, 1, 20));
  ASSERT_HRESULT_SUCCEEDED(fence->Signal(1));  // the older value completes: the event is set
  // The hazard: registering for 2 and waiting on the event wakes at once, with 2 not reached.
  ASSERT_HRESULT_SUCCEEDED(fence->SetEventOnCompletion(1, event));
  ASSERT_HRESULT_SUCCEEDED(fence->SetEventOnCompletion(2, event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_LT(fence->GetCompletedValue(), 2u);

  ASSERT_HRESULT_SUCCEEDED(fence->SetEventOnCompletion(1, event));  // set again, as a stale wake-up
  EXPECT_FALSE(WaitForFence(fence, event, 2, 50));
  ASSERT_HRESULT_SUCCEEDED(fence->Signal(2));
  EXPECT_TRUE(WaitForFence(fence, event, 2, 1000));
  EXPECT_TRUE(WaitForFence(fence, event, 0, 0));  // nothing to wait for: no time needed

  CloseHandle(event);
  fence->Release();
  device->Release();
}

}  // namespace
}  // namespace pathlight
