// hot-patch-present: another tool in the game's process patches the entry of the swap chain's
// Present with a two-byte jump before the game makes its swap chain, as some overlays and capture
// tools do. Present keeps working through the tool's stub, but no inline hook can be laid over a
// two-byte jump, so the library's swap-chain hooks cannot be made.
//
//   hot-patch-present               (at 0 ms, before the library loads)
//
// The entry becomes `jmp +0` (EB 00) followed by `jmp rel32` to a stub within reach, which runs
// the whole instructions those 7 bytes displaced and jumps back behind them. It refuses (and ends
// the game with status 1) when a displaced instruction is a branch or addresses memory relative to
// the instruction pointer: this tool does not relocate.
#include <windows.h>

#include <d3d12.h>
#include <dxgi1_4.h>

#include <Zydis/Zydis.h>

#include <cstdint>
#include <cstring>

#include "host.hpp"
#include "scenario.hpp"
#include "testkit/d3d12_kit_win.hpp"

namespace simhost {

namespace {

constexpr std::size_t kPatched = 7;  // EB 00, then E9 rel32
constexpr int kPresentEntry = 8;     // IDXGISwapChain::Present in the method table

// The address of the system DXGI's Present, from a swap chain made and released at once.
void* SystemPresent(Host& host) {
  HWND window = CreateWindowExW(0, L"STATIC", L"hot-patch probe", WS_OVERLAPPED, 0, 0, 64, 64, nullptr, nullptr,
                                host.instance, nullptr);
  ID3D12Device* device = nullptr;
  ID3D12CommandQueue* queue = nullptr;
  IDXGIFactory2* factory = nullptr;
  IDXGISwapChain1* swapchain = nullptr;
  void* present = nullptr;
  D3D12_COMMAND_QUEUE_DESC queueDesc = {};
  const DXGI_SWAP_CHAIN_DESC1 desc = testkit::FlipSwapChainDesc(64, 64, DXGI_FORMAT_R8G8B8A8_UNORM, 2);
  if (window != nullptr && SUCCEEDED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device))) &&
      SUCCEEDED(device->CreateCommandQueue(&queueDesc, IID_PPV_ARGS(&queue))) &&
      SUCCEEDED(CreateDXGIFactory2(0, IID_PPV_ARGS(&factory))) &&
      SUCCEEDED(factory->CreateSwapChainForHwnd(queue, window, &desc, nullptr, nullptr, &swapchain))) {
    present = (*reinterpret_cast<void***>(swapchain))[kPresentEntry];
  }
  if (swapchain != nullptr) swapchain->Release();
  if (factory != nullptr) factory->Release();
  if (queue != nullptr) queue->Release();
  if (device != nullptr) device->Release();
  if (window != nullptr) DestroyWindow(window);
  return present;
}

// Executable memory within a jmp rel32's reach of `code`.
unsigned char* StubNear(const unsigned char* code) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const std::uintptr_t granularity = system.dwAllocationGranularity;
  const std::uintptr_t origin = reinterpret_cast<std::uintptr_t>(code) & ~(granularity - 1);
  for (std::uintptr_t distance = granularity; distance < (1u << 30); distance += granularity) {
    for (const std::uintptr_t at : {origin - distance, origin + distance}) {
      if (void* p = VirtualAlloc(reinterpret_cast<void*>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE)) {
        return static_cast<unsigned char*>(p);
      }
    }
  }
  return nullptr;
}

// The length of the whole instructions that cover `kPatched` bytes at `code`; 0 when one of them
// cannot be moved as it is.
std::size_t MovableLength(const unsigned char* code) {
  ZydisDecoder decoder;
  if (ZYAN_FAILED(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64))) return 0;
  std::size_t length = 0;
  while (length < kPatched) {
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (ZYAN_FAILED(ZydisDecoderDecodeFull(&decoder, code + length, 16, &instruction, operands))) return 0;
    if ((instruction.attributes & ZYDIS_ATTRIB_IS_RELATIVE) != 0 || instruction.meta.category == ZYDIS_CATEGORY_RET) {
      return 0;
    }
    length += instruction.length;
  }
  return length;
}

const bool kHotPatch = RegisterAction(
    "hot-patch-present",
    {0, 0,
     [](Host& host, const Action&) {
       auto* present = static_cast<unsigned char*>(SystemPresent(host));
       const std::size_t moved = present != nullptr ? MovableLength(present) : 0;
       unsigned char* stub = moved != 0 ? StubNear(present) : nullptr;
       if (stub == nullptr) {
         Say("simhost: hot-patch-present: Present's entry cannot be patched here");
         host.exitCode = 1;
         host.quit = true;
         return;
       }
       // The stub: the displaced instructions, then jmp [rip+0] back behind them.
       std::memcpy(stub, present, moved);
       const std::uint64_t back = reinterpret_cast<std::uint64_t>(present) + moved;
       const unsigned char jumpBack[6] = {0xFF, 0x25, 0, 0, 0, 0};
       std::memcpy(stub + moved, jumpBack, sizeof jumpBack);
       std::memcpy(stub + moved + sizeof jumpBack, &back, sizeof back);
       FlushInstructionCache(GetCurrentProcess(), stub, moved + 14);

       unsigned char entry[kPatched] = {0xEB, 0x00, 0xE9};
       const std::int32_t rel = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(stub) -
                                                          reinterpret_cast<std::intptr_t>(present + kPatched));
       std::memcpy(entry + 3, &rel, sizeof rel);
       DWORD protection = 0;
       VirtualProtect(present, kPatched, PAGE_EXECUTE_READWRITE, &protection);
       std::memcpy(present, entry, kPatched);
       VirtualProtect(present, kPatched, protection, &protection);
       FlushInstructionCache(GetCurrentProcess(), present, kPatched);
       Say("simhost: Present's entry at %p hot-patched with a two-byte jump", static_cast<void*>(present));
     },
     true});

}  // namespace

}  // namespace simhost
