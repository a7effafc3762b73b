// sl.interposer.dll as a game sees it: the DXGI factory exports (handed on to the system's
// dxgi.dll, loaded by full path on first use, never under the loader lock) and the four Streamline
// functions the library hooks. The Streamline functions do no work; each answers its call's
// receipt (receipt.hpp).
#include <windows.h>

#include <cstdint>
#include <string>

#include "receipt.hpp"

namespace {

using CreateFactoryFn = HRESULT(WINAPI*)(REFIID, void**);
using CreateFactory2Fn = HRESULT(WINAPI*)(UINT, REFIID, void**);

FARPROC SystemDxgi(const char* name) {
  static HMODULE dxgi = [] {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return LoadLibraryW((std::wstring(folder, length) + L"\\dxgi.dll").c_str());
  }();
  return dxgi != nullptr ? GetProcAddress(dxgi, name) : nullptr;
}

std::uint64_t U(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

}  // namespace

extern "C" {

HRESULT WINAPI Double_CreateDXGIFactory(REFIID riid, void** factory) {
  const auto real = reinterpret_cast<CreateFactoryFn>(reinterpret_cast<void*>(SystemDxgi("CreateDXGIFactory")));
  return real != nullptr ? real(riid, factory) : E_NOTIMPL;
}

HRESULT WINAPI Double_CreateDXGIFactory1(REFIID riid, void** factory) {
  const auto real = reinterpret_cast<CreateFactoryFn>(reinterpret_cast<void*>(SystemDxgi("CreateDXGIFactory1")));
  return real != nullptr ? real(riid, factory) : E_NOTIMPL;
}

HRESULT WINAPI Double_CreateDXGIFactory2(UINT flags, REFIID riid, void** factory) {
  const auto real = reinterpret_cast<CreateFactory2Fn>(reinterpret_cast<void*>(SystemDxgi("CreateDXGIFactory2")));
  return real != nullptr ? real(flags, riid, factory) : E_NOTIMPL;
}

// sl::Result slSetConstants(const sl::Constants&, const sl::FrameToken&, const sl::ViewportHandle&)
std::int32_t Double_slSetConstants(const void* values, const void* frame, const void* viewport) {
  return doubles::Receipt({U(values), U(frame), U(viewport)});
}

// sl::Result slSetTag(const sl::ViewportHandle&, const sl::ResourceTag*, uint32_t, sl::CommandBuffer*)
std::int32_t Double_slSetTag(const void* viewport, const void* tags, std::uint32_t count, void* commands) {
  return doubles::Receipt({U(viewport), U(tags), count, U(commands)});
}

// sl::Result slSetTagForFrame(const sl::FrameToken&, const sl::ViewportHandle&, const sl::ResourceTag*, uint32_t,
//                             sl::CommandBuffer*)
std::int32_t Double_slSetTagForFrame(const void* frame, const void* viewport, const void* tags, std::uint32_t count,
                                     void* commands) {
  return doubles::Receipt({U(frame), U(viewport), U(tags), count, U(commands)});
}

// sl::Result slEvaluateFeature(sl::Feature, const sl::FrameToken&, const sl::BaseStructure**, uint32_t,
//                              sl::CommandBuffer*)
std::int32_t Double_slEvaluateFeature(std::uint32_t feature, const void* frame, const void** inputs,
                                      std::uint32_t count, void* commands) {
  return doubles::Receipt({feature, U(frame), U(inputs), count, U(commands)});
}

}  // extern "C"
