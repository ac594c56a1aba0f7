// One small owner per kind of Windows handle, so that no function has to release by hand on
// every early return.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace scoped {

// A kernel handle from CreateFileW, CreateToolhelp32Snapshot, CreateThread and the like.
// Both null and INVALID_HANDLE_VALUE count as "no handle".
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }
    HANDLE Release() { HANDLE h = m_h; m_h = nullptr; return h; }
    void Reset(HANDLE h = nullptr) {
        if (IsValid()) CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

// A search started with FindFirstFileW.
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    ~FindHandle() { Close(); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }
    void Close() {
        if (IsValid()) FindClose(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

// An open registry key.
class Key {
public:
    Key() = default;
    ~Key() { if (m_h) RegCloseKey(m_h); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &m_h; }
    HKEY Get() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

// COM initialised on the calling thread for the lifetime of the object (apartment threaded).
class ComInit {
public:
    ComInit() : m_hr(CoInitialize(nullptr)) {}
    ~ComInit() { if (SUCCEEDED(m_hr)) CoUninitialize(); }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

// A COM interface pointer, released once.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { if (m_p) m_p->Release(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void** OutVoid() { return reinterpret_cast<void**>(&m_p); }
    T** Out() { return &m_p; }

private:
    T* m_p = nullptr;
};

// Memory from HeapAlloc on the process heap.
class HeapBlock {
public:
    explicit HeapBlock(SIZE_T bytes) : m_p(HeapAlloc(GetProcessHeap(), 0, bytes)) {}
    ~HeapBlock() { if (m_p) HeapFree(GetProcessHeap(), 0, m_p); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    void* Get() const { return m_p; }

private:
    void* m_p;
};

// A module loaded with LoadLibraryW.
class Library {
public:
    explicit Library(const wchar_t* name) : m_h(LoadLibraryW(name)) {}
    ~Library() { if (m_h) FreeLibrary(m_h); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // An exported function, as the caller's function type.
    template <typename Fn>
    Fn Proc(const char* name) const {
        FARPROC proc = m_h ? GetProcAddress(m_h, name) : nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    }

private:
    HMODULE m_h;
};

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(GetDC(hwnd)) {}
    ~WindowDC() { if (m_hdc) ReleaseDC(m_hwnd, m_hdc); }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC Get() const { return m_hdc; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// A memory device context from CreateCompatibleDC.
class MemoryDC {
public:
    explicit MemoryDC(HDC compatible) : m_hdc(CreateCompatibleDC(compatible)) {}
    ~MemoryDC() { if (m_hdc) DeleteDC(m_hdc); }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC Get() const { return m_hdc; }

private:
    HDC m_hdc;
};

// A GDI object (bitmap, brush, font) deleted with DeleteObject.
template <typename T>
class GdiObject {
public:
    explicit GdiObject(T h = nullptr) : m_h(h) {}
    ~GdiObject() { if (m_h) DeleteObject(m_h); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    T Get() const { return m_h; }

private:
    T m_h;
};

// An object selected into a device context; the previous one is selected back.
class SelectObject {
public:
    SelectObject(HDC hdc, HGDIOBJ obj) : m_hdc(hdc), m_old(::SelectObject(hdc, obj)) {}
    ~SelectObject() { if (m_old) ::SelectObject(m_hdc, m_old); }
    SelectObject(const SelectObject&) = delete;
    SelectObject& operator=(const SelectObject&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_old;
};

// A global memory block locked with GlobalLock.
class GlobalLock {
public:
    explicit GlobalLock(HGLOBAL h) : m_h(h), m_p(h ? ::GlobalLock(h) : nullptr) {}
    ~GlobalLock() { if (m_p) GlobalUnlock(m_h); }
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
    void* Get() const { return m_p; }

private:
    HGLOBAL m_h;
    void* m_p;
};

// Memory the system allocated with GlobalAlloc for the caller (GlobalFree when it goes).
template <typename T>
class GlobalMemory {
public:
    explicit GlobalMemory(T* p = nullptr) : m_p(p) {}
    ~GlobalMemory() { if (m_p) GlobalFree(m_p); }
    GlobalMemory(const GlobalMemory&) = delete;
    GlobalMemory& operator=(const GlobalMemory&) = delete;
    T* Get() const { return m_p; }

private:
    T* m_p;
};

// Memory the shell allocated with CoTaskMemAlloc for the caller; its address is filled in by the
// call that allocates it (Out()).
template <typename T>
class CoTaskMemory {
public:
    CoTaskMemory() = default;
    ~CoTaskMemory() { CoTaskMemFree(m_p); }
    CoTaskMemory(const CoTaskMemory&) = delete;
    CoTaskMemory& operator=(const CoTaskMemory&) = delete;
    T** Out() { return &m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p = nullptr;
};

// The process and thread handles of a started process.
class ProcessInfo {
public:
    explicit ProcessInfo(const PROCESS_INFORMATION& info) : m_process(info.hProcess), m_thread(info.hThread) {}
    HANDLE Process() const { return m_process.Get(); }

private:
    Handle m_process, m_thread;
};

}  // namespace scoped
