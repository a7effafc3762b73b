// Sections: the probe routine, the vectored handler, guarded reads.
#include "platform/fault_guard_win.hpp"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

// ---- the probe routine ------------------------------------------------------------------------
//
// std::size_t pathlight_ProbeCopy(void* out, const void* from, std::size_t size, ProbeFault* fault)
//
// A leaf routine without stack use (rdi and rsi are kept in the volatile r10 and r11), so it
// needs no unwind data and the handler can resume it by moving rip alone. On a fault at
// pathlight_ProbeAccess the handler puts the exception code in eax and the faulting address in
// rdx and resumes at pathlight_ProbeResume, where rcx still holds the bytes `rep movsb` had left
// to copy.
asm(R"(
  .intel_syntax noprefix
  .text
  .p2align 4
  .globl pathlight_ProbeCopy
  .globl pathlight_ProbeAccess
  .globl pathlight_ProbeResume
pathlight_ProbeCopy:
  mov r10, rdi
  mov r11, rsi
  mov rdi, rcx
  mov rsi, rdx
  mov rcx, r8
pathlight_ProbeAccess:
  rep movsb
  xor eax, eax
pathlight_ProbeResume:
  mov dword ptr [r9], eax
  mov qword ptr [r9 + 8], rdx
  mov rax, r8
  sub rax, rcx
  mov rdi, r10
  mov rsi, r11
  ret
  .att_syntax prefix
)");

// Filled by the probe routine: the exception code (0 without a fault) and, after a fault, the
// address of the data it faulted on.
struct ProbeFault {
  std::uint32_t code;
  std::uint32_t unused;
  std::uint64_t address;
};
static_assert(offsetof(ProbeFault, address) == 8);

extern "C" {
std::size_t pathlight_ProbeCopy(void* out, const void* from, std::size_t size, ProbeFault* fault);
extern const char pathlight_ProbeAccess[];
extern const char pathlight_ProbeResume[];
}

namespace pathlight {

namespace {

// ---- the vectored handler ---------------------------------------------------------------------

LONG CALLBACK ProbeFaultHandler(EXCEPTION_POINTERS* info) {
  CONTEXT* context = info->ContextRecord;
  if (context->Rip != reinterpret_cast<DWORD64>(pathlight_ProbeAccess)) return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  context->Rax = record->ExceptionCode;
  context->Rdx = record->NumberParameters >= 2 ? record->ExceptionInformation[1] : 0;
  context->Rip = reinterpret_cast<DWORD64>(pathlight_ProbeResume);
  return EXCEPTION_CONTINUE_EXECUTION;
}

void InstallHandlerOnce() {
  // First in the chain: a crash reporter of the game must never see our probe's faults. The
  // handler is never removed, as the library is never unloaded.
  static const bool installed = AddVectoredExceptionHandler(1, &ProbeFaultHandler) != nullptr;
  (void)installed;
}

std::atomic<std::uint64_t> g_guardPagesRestored{0};

constexpr DWORD kReadableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

bool IsReadable(const MEMORY_BASIC_INFORMATION& region) {
  return region.State == MEM_COMMIT && (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 &&
         (region.Protect & kReadableProtections) != 0;
}

}  // namespace

namespace fault_guard_detail {

ProbeResult ProbeCopy(void* out, const void* from, std::size_t size) {
  InstallHandlerOnce();
  ProbeFault fault{};
  const std::size_t copied = pathlight_ProbeCopy(out, from, size, &fault);
  return {copied, fault.code, fault.code != 0 ? fault.address : 0};
}

void RestoreGuardPage(std::uint64_t address) {
  MEMORY_BASIC_INFORMATION region;
  const void* page = reinterpret_cast<const void*>(address & ~std::uint64_t{0xFFF});
  if (VirtualQuery(page, &region, sizeof region) != sizeof region) return;
  if (region.State != MEM_COMMIT || (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return;
  DWORD previous = 0;
  if (VirtualProtect(const_cast<void*>(page), 1, region.Protect | PAGE_GUARD, &previous)) {
    g_guardPagesRestored.fetch_add(1, std::memory_order_relaxed);
  }
}

std::uint64_t GuardPagesRestored() { return g_guardPagesRestored.load(std::memory_order_relaxed); }

}  // namespace fault_guard_detail

// ---- guarded reads ----------------------------------------------------------------------------

namespace {

// What ReadSome hands its one piece to: nothing, the bytes are already where the caller wants them.
class NoVisitor final : public GameMemory::PieceVisitor {
 public:
  void Piece(std::uint64_t, const void*, std::size_t) override {}
};

}  // namespace

std::size_t FaultGuard::ReadSome(std::uint64_t address, void* out, std::size_t size) {
  NoVisitor none;
  return ReadPieces(address, size, out, size, none);
}

std::size_t FaultGuard::ReadPieces(std::uint64_t address, std::size_t size, void* scratch, std::size_t scratchBytes,
                                   PieceVisitor& visitor) {
  if (size == 0 || scratchBytes == 0 || address < kLowestUserAddress || address > kHighestUserAddress) return 0;
  const std::uint64_t end =
      std::min<std::uint64_t>(address + std::min<std::uint64_t>(size, kHighestUserAddress), kHighestUserAddress + 1);
  auto* const out = static_cast<char*>(scratch);
  std::uint64_t readableEnd = address;  // the end of the region last found readable
  std::size_t done = 0;
  for (std::uint64_t piece = address; piece < end;) {
    const std::uint64_t pieceEnd = piece + std::min<std::uint64_t>(end - piece, scratchBytes);
    std::uint64_t cursor = piece;
    bool stopped = false;
    while (cursor < pieceEnd) {
      if (cursor >= readableEnd) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<const void*>(cursor), &region, sizeof region) != sizeof region ||
            !IsReadable(region)) {
          stopped = true;
          break;
        }
        readableEnd = reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize;
      }
      const std::uint64_t from = cursor;
      const std::uint64_t chunk = std::min(readableEnd, pieceEnd) - from;
      const fault_guard_detail::ProbeResult probe = fault_guard_detail::ProbeCopy(
          out + (from - piece), reinterpret_cast<const void*>(from), static_cast<std::size_t>(chunk));
      cursor += probe.copied;
      if (probe.copied < chunk) {
        // The page changed after the question: freed (an access violation) or made a guard page,
        // whose bit our touch has just cleared and which its owner still needs. Only a fault on
        // the game's side of the copy is the game's page.
        if (probe.exceptionCode == static_cast<std::uint32_t>(STATUS_GUARD_PAGE_VIOLATION) &&
            probe.faultAddress - from < chunk) {
          fault_guard_detail::RestoreGuardPage(probe.faultAddress);
        }
        stopped = true;
        break;
      }
    }
    if (cursor > piece) visitor.Piece(piece, out, static_cast<std::size_t>(cursor - piece));
    done += static_cast<std::size_t>(cursor - piece);
    if (stopped) break;
    piece = pieceEnd;
  }
  return done;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> UnreadableParts(std::uint64_t start, std::uint64_t size) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> parts;
  const std::uint64_t end = start + size;
  for (std::uint64_t cursor = start; cursor < end;) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(cursor), &region, sizeof region) != sizeof region) {
      parts.emplace_back(cursor, end);
      break;
    }
    const std::uint64_t regionEnd =
        std::min(reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize, end);
    if (!IsReadable(region)) parts.emplace_back(cursor, regionEnd);
    cursor = regionEnd;
  }
  return parts;
}

GameMemory& GuardedMemory() {
  static FaultGuard memory;
  return memory;
}

}  // namespace pathlight
