// Declarations that Dear ImGui's DX12 backend expects from the Windows SDK and MinGW-w64's
// headers lack.
#pragma once
#include <d3d12.h>
#ifndef PATHLIGHT_HAS_PFN_D3D12_SERIALIZE_ROOT_SIGNATURE
typedef HRESULT(WINAPI* PFN_D3D12_SERIALIZE_ROOT_SIGNATURE)(const D3D12_ROOT_SIGNATURE_DESC* pRootSignature,
                                                            D3D_ROOT_SIGNATURE_VERSION Version, ID3DBlob** ppBlob,
                                                            ID3DBlob** ppErrorBlob);
#endif
