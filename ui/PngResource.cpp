#include "ui/PngResource.h"

#include <cstring>

#include "framework/WinApp.h"
#include "platform/ScopedWin.h"

Gdiplus::Image* LoadPngResource(UINT id) {
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(LOWORD(id)), L"PNG");
    DWORD size = resource ? SizeofResource(module, resource) : 0;
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;

    scoped::ComPtr<IStream> stream;
    if (bytes && size) {
        // The block backs the stream for as long as the image lives, so it is never freed.
        HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
        if (block) {
            scoped::GlobalLock locked(block);
            if (locked.Get()) std::memcpy(locked.Get(), bytes, size);
            CreateStreamOnHGlobal(block, FALSE, stream.Out());
        }
    }
    // A null stream still yields an image object, one whose load failed.
    // A GDI+ allocation: null on failure. The image keeps a reference of its own to the stream.
    return new Gdiplus::Image(stream.Get(), FALSE);
}
