#include "render12/shader_cache_win.hpp"

#include <d3dcompiler.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "render12/fence_wait_win.hpp"

namespace pathlight {

namespace {

constexpr DWORD kFontUploadWaitMs = 2000;

struct CachedShader {
  std::string key;
  ID3DBlob* blob = nullptr;  // referenced for the process
};

struct ShaderCache {
  std::mutex mutex;
  std::vector<CachedShader> shaders;
  ShaderCacheCounts counts;
  std::atomic<bool> uploadTimedOut{false};  // the backend's font upload gave up its wait
};

ShaderCache& Shaders() {
  static ShaderCache cache;
  return cache;
}

// Everything that decides the compiler's output, in one string; a zero byte ends each part.
std::string KeyOf(const void* source, std::size_t length, const D3D_SHADER_MACRO* defines, const char* entry,
                  const char* target, unsigned flags1, unsigned flags2) {
  std::string key(static_cast<const char*>(source), length);
  key += '\0';
  for (const D3D_SHADER_MACRO* m = defines; m != nullptr && m->Name != nullptr; ++m) {
    key += m->Name;
    key += '=';
    key += m->Definition != nullptr ? m->Definition : "";
    key += '\0';
  }
  key += '\0';
  key += entry != nullptr ? entry : "";
  key += '\0';
  key += target != nullptr ? target : "";
  key += '\0';
  key += std::to_string(flags1) + "," + std::to_string(flags2);
  return key;
}

}  // namespace

long CompileShaderCached(const void* source, std::size_t length, const char* name, const _D3D_SHADER_MACRO* defines,
                         ID3DInclude* include, const char* entry, const char* target, unsigned flags1, unsigned flags2,
                         ID3D10Blob** code, ID3D10Blob** errors) {
  if (code == nullptr) return E_INVALIDARG;
  *code = nullptr;
  if (errors != nullptr) *errors = nullptr;
  ShaderCache& cache = Shaders();
  // An include handler could bring text the key does not hold.
  const bool cacheable = include == nullptr && source != nullptr;
  std::string key;
  if (cacheable) {
    key = KeyOf(source, length, defines, entry, target, flags1, flags2);
    std::lock_guard lock(cache.mutex);
    for (const CachedShader& shader : cache.shaders) {
      if (shader.key == key) {
        shader.blob->AddRef();
        *code = shader.blob;
        ++cache.counts.hits;
        return S_OK;
      }
    }
  }
  const HRESULT hr = D3DCompile(source, length, name, defines, include, entry, target, flags1, flags2, code, errors);
  if (FAILED(hr) || *code == nullptr || !cacheable) return hr;
  std::lock_guard lock(cache.mutex);
  ++cache.counts.compiled;
  (*code)->AddRef();
  cache.shaders.push_back({std::move(key), *code});
  return hr;
}

ShaderCacheCounts ShaderCacheCounted() {
  ShaderCache& cache = Shaders();
  std::lock_guard lock(cache.mutex);
  return cache.counts;
}

bool BackendUploadWaited(ID3D12Fence* fence, void* event) {
  if (WaitForFence(fence, static_cast<HANDLE>(event), 1, kFontUploadWaitMs)) return true;
  Shaders().uploadTimedOut.store(true);
  return false;
}

bool BackendUploadTimedOut() { return Shaders().uploadTimedOut.exchange(false); }

}  // namespace pathlight
