// Counts every heap allocation of the program: std::vector's and the rest through a replaced
// operator new, Dear ImGui's through the allocator hook CountImGuiAllocations installs. Include it
// in one source file of a benchmark program only: it defines the program's operator new.
#pragma once

#include <imgui.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace pathlight::bench {

inline std::atomic<long> allocations{0};

inline void* CountedImGuiAlloc(std::size_t size, void*) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size);
}
inline void ImGuiFree(void* p, void*) { std::free(p); }

// Before Dear ImGui's context is made.
inline void CountImGuiAllocations() { ImGui::SetAllocatorFunctions(CountedImGuiAlloc, ImGuiFree); }

}  // namespace pathlight::bench

// GCC takes the inlined free for a mismatch with new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  pathlight::bench::allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
