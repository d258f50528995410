#include "app/skin/resource_image.h"

#include <cstring>

#include "app/framework/win_app.h"
#include "velisk/handles.h"

bool LoadImageFromResource(UINT id, const wchar_t* type, Gdiplus::Image** image) {
    if (image == nullptr) return false;
    *image = nullptr;
    HMODULE module = fw::CWinApp::ResourceInstance();
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (resource == nullptr) return false;
    const DWORD size = ::SizeofResource(module, resource);
    HGLOBAL loaded = ::LoadResource(module, resource);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return false;

    HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (copy == nullptr) return false;
    void* target = ::GlobalLock(copy);
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(copy);

    // The stream frees the memory when its last reference goes; the image
    // keeps a reference for as long as it lives.
    velisk::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(copy, TRUE, stream.receive()))) {
        ::GlobalFree(copy);
        return false;
    }
    auto* decoded = Gdiplus::Image::FromStream(stream.get());
    if (decoded == nullptr || decoded->GetLastStatus() != Gdiplus::Ok) {
        delete decoded;
        return false;
    }
    *image = decoded;
    return true;
}
