#include "render12/fence_wait_win.hpp"

namespace pathlight {

bool WaitForFence(ID3D12Fence* fence, HANDLE event, UINT64 value, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (fence->GetCompletedValue() < value) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || FAILED(fence->SetEventOnCompletion(value, event))) return false;
    if (WaitForSingleObject(event, static_cast<DWORD>(deadline - now)) == WAIT_FAILED) return false;
  }
  return true;
}

}  // namespace pathlight
