// Installs the factory-export detours (dxgi_win.cpp) on an export the installation found.
#pragma once

namespace pathlight {

enum class FactoryExport { CreateDXGIFactory, CreateDXGIFactory1, CreateDXGIFactory2 };

// Creates and enables the hook; on failure its trampoline slot stays empty. Null target: false.
[[nodiscard]] bool HookFactoryExport(FactoryExport which, void* target);

}  // namespace pathlight
