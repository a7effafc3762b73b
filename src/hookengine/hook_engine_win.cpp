// The MinHook API over the prologue decisions (prologue.cpp), the slot pool and the thread freeze.
// Sections: state and lock; memory checks; creating; switching (enable and disable share one
// path); the API.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "hookengine/hook_engine.hpp"
#include "hookengine/near_memory_win.hpp"
#include "hookengine/prologue.hpp"
#include "hookengine/thread_freeze_win.hpp"

namespace pathlight::hookengine {
namespace {

struct Hook {
  std::uint64_t target = 0;
  Slot slot;
  std::array<std::uint8_t, kPatchSize> original{};
  bool enabled = false;
};

struct Engine {
  bool initialized = false;
  std::vector<Hook> hooks;
  SlotPool slots;
};

// Static storage, so the lock is usable before any constructor ran.
SRWLOCK engineLock = SRWLOCK_INIT;

Engine& State() {
  static Engine engine;
  return engine;
}

class Locked {
 public:
  Locked() { AcquireSRWLockExclusive(&engineLock); }
  ~Locked() { ReleaseSRWLockExclusive(&engineLock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

Hook* Find(Engine& engine, LPVOID target) {
  const auto at = reinterpret_cast<std::uint64_t>(target);
  for (auto& hook : engine.hooks) {
    if (hook.target == at) return &hook;
  }
  return nullptr;
}

// --- Memory checks -------------------------------------------------------------------------------

constexpr DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kReadable = kExecutable | PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY;

bool IsExecutable(LPVOID address) {
  MEMORY_BASIC_INFORMATION region;
  if (address == nullptr || VirtualQuery(address, &region, sizeof region) == 0) return false;
  return region.State == MEM_COMMIT && (region.Protect & kExecutable) != 0 && (region.Protect & PAGE_GUARD) == 0;
}

// How many of the `wanted` bytes from `address` can be read: the look-ahead stops at the end of
// readable memory instead of faulting on it.
std::size_t ReadableLength(std::uint64_t address, std::size_t wanted) {
  std::size_t length = 0;
  while (length < wanted) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<void*>(address + length), &region, sizeof region) == 0) break;
    if (region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 || (region.Protect & PAGE_GUARD) != 0) break;
    length = reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize - address;
  }
  return std::min(length, wanted);
}

// --- Creating ------------------------------------------------------------------------------------

MH_STATUS Create(Engine& engine, LPVOID target, LPVOID detour, LPVOID* original) {
  if (Find(engine, target) != nullptr) return MH_ERROR_ALREADY_CREATED;
  if (!IsExecutable(target) || !IsExecutable(detour)) return MH_ERROR_NOT_EXECUTABLE;
  const auto address = reinterpret_cast<std::uint64_t>(target);
  std::array<std::byte, kCodeWanted> code{};
  const std::size_t readable = ReadableLength(address, code.size());
  std::memcpy(code.data(), target, readable);

  Hook hook;
  hook.target = address;
  Prologue prologue;
  if (DecodePrologue(std::span(code).first(readable), address, prologue) != RelocationStatus::Ok) {
    return MH_ERROR_UNSUPPORTED_FUNCTION;
  }
  std::memcpy(hook.original.data(), prologue.bytes.data(), kPatchSize);
  const std::uint64_t slot = engine.slots.Allocate(SlotRange(prologue), address);
  if (slot == 0) return MH_ERROR_MEMORY_ALLOC;
  const RelocationStatus built = BuildSlot(prologue, slot, reinterpret_cast<std::uint64_t>(detour), hook.slot);
  if (built != RelocationStatus::Ok) {
    engine.slots.Free(slot);
    return built == RelocationStatus::OutOfReach ? MH_ERROR_MEMORY_ALLOC : MH_ERROR_UNSUPPORTED_FUNCTION;
  }
  if (!engine.slots.Write(slot, hook.slot.bytes)) {
    engine.slots.Free(slot);
    return MH_ERROR_MEMORY_PROTECT;
  }
  engine.hooks.push_back(hook);
  if (original != nullptr) *original = reinterpret_cast<LPVOID>(hook.slot.Trampoline());
  return MH_OK;
}

// --- Switching -----------------------------------------------------------------------------------

// Enables or disables `hooks` (all currently in the other state) under one freeze. The pages are
// made writable and the moves of all hooks gathered before the threads stop, and the protections
// restored after they resume, so the frozen stretch holds only the writes and one context read
// per thread.
MH_STATUS Switch(const std::vector<Hook*>& hooks, bool enable) {
  if (hooks.empty()) return MH_OK;
  std::vector<DWORD> protections(hooks.size(), 0);
  std::size_t writable = 0;
  for (; writable < hooks.size(); ++writable) {
    auto* entry = reinterpret_cast<void*>(hooks[writable]->target);
    if (!VirtualProtect(entry, kPatchSize, PAGE_EXECUTE_READWRITE, &protections[writable])) break;
  }
  std::vector<IpMove> moves;
  for (std::size_t i = 0; i < writable; ++i) {
    const Slot& slot = hooks[i]->slot;
    const auto from =
        enable ? std::span(slot.into).first(slot.intoCount) : std::span(slot.outOf).first(slot.outOfCount);
    moves.insert(moves.end(), from.begin(), from.end());
  }
  {
    ThreadFreeze freeze;
    for (std::size_t i = 0; i < writable; ++i) {
      Hook& hook = *hooks[i];
      WriteEntry(hook.target, enable ? EntryJump(hook.target, hook.slot.address) : hook.original);
      hook.enabled = enable;
    }
    freeze.MoveInstructionPointers(moves);
  }
  for (std::size_t i = 0; i < writable; ++i) {
    DWORD ignored = 0;
    VirtualProtect(reinterpret_cast<void*>(hooks[i]->target), kPatchSize, protections[i], &ignored);
  }
  return writable == hooks.size() ? MH_OK : MH_ERROR_MEMORY_PROTECT;
}

MH_STATUS SwitchRequested(LPVOID target, bool enable) {
  Locked lock;
  Engine& engine = State();
  if (!engine.initialized) return MH_ERROR_NOT_INITIALIZED;
  std::vector<Hook*> hooks;
  if (target == MH_ALL_HOOKS) {
    for (auto& hook : engine.hooks) {
      if (hook.enabled != enable) hooks.push_back(&hook);
    }
  } else {
    Hook* hook = Find(engine, target);
    if (hook == nullptr) return MH_ERROR_NOT_CREATED;
    if (hook->enabled == enable) return enable ? MH_ERROR_ENABLED : MH_ERROR_DISABLED;
    hooks.push_back(hook);
  }
  return Switch(hooks, enable);
}

}  // namespace
}  // namespace pathlight::hookengine

// --- The API -------------------------------------------------------------------------------------

using namespace pathlight::hookengine;

MH_STATUS WINAPI MH_Initialize(VOID) {
  Locked lock;
  Engine& engine = State();
  if (engine.initialized) return MH_ERROR_ALREADY_INITIALIZED;
  engine.initialized = true;
  return MH_OK;
}

MH_STATUS WINAPI MH_Uninitialize(VOID) {
  Locked lock;
  Engine& engine = State();
  if (!engine.initialized) return MH_ERROR_NOT_INITIALIZED;
  std::vector<Hook*> enabled;
  for (auto& hook : engine.hooks) {
    if (hook.enabled) enabled.push_back(&hook);
  }
  const MH_STATUS status = Switch(enabled, false);
  if (status != MH_OK) return status;  // a hook still patched keeps its slot
  engine.hooks.clear();
  engine.slots.ReleaseAll();
  engine.initialized = false;
  return MH_OK;
}

MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal) {
  Locked lock;
  Engine& engine = State();
  if (!engine.initialized) return MH_ERROR_NOT_INITIALIZED;
  return Create(engine, pTarget, pDetour, ppOriginal);
}

MH_STATUS WINAPI MH_CreateHookApiEx(LPCWSTR pszModule, LPCSTR pszProcName, LPVOID pDetour, LPVOID* ppOriginal,
                                    LPVOID* ppTarget) {
  const HMODULE module = GetModuleHandleW(pszModule);
  if (module == nullptr) return MH_ERROR_MODULE_NOT_FOUND;
  auto* target = reinterpret_cast<LPVOID>(GetProcAddress(module, pszProcName));
  if (target == nullptr) return MH_ERROR_FUNCTION_NOT_FOUND;
  if (ppTarget != nullptr) *ppTarget = target;
  return MH_CreateHook(target, pDetour, ppOriginal);
}

MH_STATUS WINAPI MH_CreateHookApi(LPCWSTR pszModule, LPCSTR pszProcName, LPVOID pDetour, LPVOID* ppOriginal) {
  return MH_CreateHookApiEx(pszModule, pszProcName, pDetour, ppOriginal, nullptr);
}

MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget) {
  Locked lock;
  Engine& engine = State();
  if (!engine.initialized) return MH_ERROR_NOT_INITIALIZED;
  Hook* hook = Find(engine, pTarget);
  if (hook == nullptr) return MH_ERROR_NOT_CREATED;
  if (hook->enabled) {
    const MH_STATUS status = Switch({hook}, false);
    if (status != MH_OK) return status;
  }
  engine.slots.Free(hook->slot.address);
  engine.hooks.erase(engine.hooks.begin() + (hook - engine.hooks.data()));
  return MH_OK;
}

MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget) { return SwitchRequested(pTarget, true); }

MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget) { return SwitchRequested(pTarget, false); }

const char* WINAPI MH_StatusToString(MH_STATUS status) {
  switch (status) {
    case MH_UNKNOWN: return "MH_UNKNOWN";
    case MH_OK: return "MH_OK";
    case MH_ERROR_ALREADY_INITIALIZED: return "MH_ERROR_ALREADY_INITIALIZED";
    case MH_ERROR_NOT_INITIALIZED: return "MH_ERROR_NOT_INITIALIZED";
    case MH_ERROR_ALREADY_CREATED: return "MH_ERROR_ALREADY_CREATED";
    case MH_ERROR_NOT_CREATED: return "MH_ERROR_NOT_CREATED";
    case MH_ERROR_ENABLED: return "MH_ERROR_ENABLED";
    case MH_ERROR_DISABLED: return "MH_ERROR_DISABLED";
    case MH_ERROR_NOT_EXECUTABLE: return "MH_ERROR_NOT_EXECUTABLE";
    case MH_ERROR_UNSUPPORTED_FUNCTION: return "MH_ERROR_UNSUPPORTED_FUNCTION";
    case MH_ERROR_MEMORY_ALLOC: return "MH_ERROR_MEMORY_ALLOC";
    case MH_ERROR_MEMORY_PROTECT: return "MH_ERROR_MEMORY_PROTECT";
    case MH_ERROR_MODULE_NOT_FOUND: return "MH_ERROR_MODULE_NOT_FOUND";
    case MH_ERROR_FUNCTION_NOT_FOUND: return "MH_ERROR_FUNCTION_NOT_FOUND";
  }
  return "(unknown)";
}
