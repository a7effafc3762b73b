// Pathlight's inline-hook engine, with MinHook's API (x64 only).
//
// Patch: the target's first 5 bytes become `jmp rel32` to a relay, a 14-byte `jmp [rip+0]; dq
// detour` in a slot within +-2 GB of the target, as MinHook does on x64; only these 5 bytes are
// written, so a thread is never sent into anything longer than the one instruction it starts.
// The same slot holds the trampoline: the whole instructions that the 5 bytes overlap, copied
// (at least 5 bytes, at most 5 instructions), then a jump back to the first uncopied byte.
// Slots come from blocks of the allocation granularity (64 KB) found with VirtualQuery/VirtualAlloc
// near the target and shared by many hooks. A freed slot is reused last and blocks go back to the
// OS only in MH_Uninitialize, so a detour still running when its hook is removed never calls into
// released memory.
//
// Relocation: RIP-relative operands (mov, lea, cmp, jmp/call [rip+x], ...) get a new displacement,
// so the slot is placed where every such operand stays within reach; `call rel32`, `jmp rel8/32`
// and `jcc rel8/32` become rel32 forms when the slot reaches their destination and absolute forms
// otherwise; a branch to another copied instruction goes to that instruction's copy.
//
// Refused, with the target left untouched:
//   MH_ERROR_UNSUPPORTED_FUNCTION  undecodable bytes; a ret, int3, ud2 or unconditional jump
//                                  before 5 bytes (the function ends too early to hold the patch);
//                                  a branch into the middle of a copied instruction, or one of the
//                                  instructions that follow the copy (up to the function's first
//                                  ret or jump, at most 64 bytes) jumping back into bytes 1 to 4;
//                                  a call ending before byte 5 (a thread inside the callee would
//                                  return into the jmp; return addresses on stacks cannot be
//                                  moved); loop/jrcxz/xbegin and relative forms it cannot widen.
//   MH_ERROR_MEMORY_ALLOC          no free memory within reach of the target (+-2 GB, narrowed by
//                                  the RIP-relative operands).
//   MH_ERROR_NOT_EXECUTABLE        target or detour not in committed executable memory.
//
// Enabling and disabling while other threads run the target: under the engine's one lock, every
// other thread of the process is suspended (found with NtGetNextThread; a Toolhelp snapshot, which
// costs 10-200 ms under Wine, only where that is missing). A thread whose instruction pointer lies
// on a copied instruction is moved to that instruction's copy in the trampoline (on disable, one in
// the trampoline or the relay goes back to the matching original place); the 5 bytes are written
// (one atomic 8-byte store when they share an aligned quadword, which also covers a thread started
// after the walk), the instruction cache is flushed, and the threads resume. Nothing allocates heap
// memory while threads are suspended, since one of them may hold the heap's lock.
//
// Every function may be called from any thread; all take the one lock.
#pragma once

#include <windows.h>

typedef enum MH_STATUS {
  MH_UNKNOWN = -1,
  MH_OK = 0,
  MH_ERROR_ALREADY_INITIALIZED,
  MH_ERROR_NOT_INITIALIZED,
  MH_ERROR_ALREADY_CREATED,
  MH_ERROR_NOT_CREATED,
  MH_ERROR_ENABLED,
  MH_ERROR_DISABLED,
  MH_ERROR_NOT_EXECUTABLE,
  MH_ERROR_UNSUPPORTED_FUNCTION,
  MH_ERROR_MEMORY_ALLOC,
  MH_ERROR_MEMORY_PROTECT,
  MH_ERROR_MODULE_NOT_FOUND,
  MH_ERROR_FUNCTION_NOT_FOUND
} MH_STATUS;

// Every created hook, for MH_EnableHook and MH_DisableHook.
#define MH_ALL_HOOKS nullptr

#ifdef __cplusplus
extern "C" {
#endif

// Sets the engine up; MH_ERROR_ALREADY_INITIALIZED on a second call.
MH_STATUS WINAPI MH_Initialize(VOID);

// Disables and removes every hook and returns the trampoline memory to the OS.
MH_STATUS WINAPI MH_Uninitialize(VOID);

// Prepares a disabled hook of `pTarget`; `*ppOriginal` (when not null) receives the trampoline,
// through which the detour calls the original function.
MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal);

// MH_CreateHook on an export of a loaded module (MH_ERROR_MODULE_NOT_FOUND,
// MH_ERROR_FUNCTION_NOT_FOUND); the Ex form also hands back the export's address.
MH_STATUS WINAPI MH_CreateHookApi(LPCWSTR pszModule, LPCSTR pszProcName, LPVOID pDetour, LPVOID* ppOriginal);
MH_STATUS WINAPI MH_CreateHookApiEx(LPCWSTR pszModule, LPCSTR pszProcName, LPVOID pDetour, LPVOID* ppOriginal,
                                    LPVOID* ppTarget);

// Disables the hook if needed and frees its slot.
MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget);

// One hook, or MH_ALL_HOOKS (every disabled hook, under one suspension of the other threads).
MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget);
MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget);

// "MH_OK", "MH_ERROR_MEMORY_ALLOC", ...; "(unknown)" for a value outside the enumeration.
const char* WINAPI MH_StatusToString(MH_STATUS status);

#ifdef __cplusplus
}
#endif
