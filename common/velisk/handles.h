// Owning wrappers for the Windows handles used across the project.
//
// Every handle that a function creates is held by one of these types, which
// closes it exactly once. A raw handle only appears at the call that creates
// it (`reset(Create...())`, or `&out` via `receive()`) and at the call that
// needs it (`get()`).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <winhttp.h>

#include <utility>

namespace velisk {

// One owner template; the traits type says what "no handle" is and how a
// handle is closed.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle h) noexcept : m_h(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return m_h; }
    bool valid() const noexcept { return !Traits::IsNull(m_h); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    Handle release() noexcept { return std::exchange(m_h, Traits::Null()); }

    // Closes the current handle (if any) and takes `h`.
    void reset(Handle h = Traits::Null()) noexcept {
        Handle old = std::exchange(m_h, h);
        if (!Traits::IsNull(old)) Traits::Close(old);
    }

    // Closes the current handle and returns the slot for an API that writes
    // a new handle through an out pointer.
    Handle* receive() noexcept {
        reset();
        return &m_h;
    }

private:
    Handle m_h = Traits::Null();
};

namespace handle_traits {

// Kernel objects whose "no handle" value is NULL (processes, threads, mutexes,
// events, tokens, file mappings).
struct Kernel {
    using Handle = HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

// Files and Toolhelp snapshots: "no handle" is INVALID_HANDLE_VALUE.
struct File {
    using Handle = HANDLE;
    static Handle Null() { return INVALID_HANDLE_VALUE; }
    static bool IsNull(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindFile {
    using Handle = HANDLE;
    static Handle Null() { return INVALID_HANDLE_VALUE; }
    static bool IsNull(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};

struct RegKey {
    using Handle = HKEY;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};

struct Internet {
    using Handle = HINTERNET;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};

struct Library {
    using Handle = HMODULE;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

struct LocalMemory {
    using Handle = HLOCAL;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::LocalFree(h); }
};

struct GdiObject {
    using Handle = HGDIOBJ;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};

// Memory device contexts from CreateCompatibleDC.
struct MemoryDc {
    using Handle = HDC;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};

struct Icon {
    using Handle = HICON;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::DestroyIcon(h); }
};

// Memory from the COM task allocator (CoTaskMem strings, item id lists).
template <typename T>
struct CoTaskMemory {
    using Handle = T*;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::CoTaskMemFree(h); }
};

}  // namespace handle_traits

using UniqueKernelHandle = UniqueHandle<handle_traits::Kernel>;
using UniqueFileHandle = UniqueHandle<handle_traits::File>;
using UniqueFindHandle = UniqueHandle<handle_traits::FindFile>;
using UniqueRegKey = UniqueHandle<handle_traits::RegKey>;
using UniqueInternetHandle = UniqueHandle<handle_traits::Internet>;
using UniqueLibrary = UniqueHandle<handle_traits::Library>;
using UniqueLocalMemory = UniqueHandle<handle_traits::LocalMemory>;
using UniqueGdiObject = UniqueHandle<handle_traits::GdiObject>;
using UniqueMemoryDc = UniqueHandle<handle_traits::MemoryDc>;
using UniqueIcon = UniqueHandle<handle_traits::Icon>;
using UniqueCoTaskString = UniqueHandle<handle_traits::CoTaskMemory<wchar_t>>;

// The argument array of CommandLineToArgvW, freed with LocalFree.
class ArgumentList {
public:
    explicit ArgumentList(const wchar_t* commandLine) {
        if (commandLine != nullptr) {
            m_argv = ::CommandLineToArgvW(commandLine, &m_argc);
            if (m_argv == nullptr) m_argc = 0;
        }
    }
    ~ArgumentList() {
        if (m_argv != nullptr) ::LocalFree(m_argv);
    }
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;

    int count() const { return m_argc; }
    // Argument i, or an empty text when i is out of range.
    const wchar_t* operator[](int i) const { return (i >= 0 && i < m_argc) ? m_argv[i] : L""; }

private:
    LPWSTR* m_argv = nullptr;
    int m_argc = 0;
};

// A COM interface pointer that is released exactly once.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(T* p) noexcept : m_p(p) {  // takes a new reference
        if (m_p) m_p->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        if (this != &other) {
            if (other.m_p) other.m_p->AddRef();
            reset();
            m_p = other.m_p;
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    // Takes over a reference that the caller already owns (no AddRef).
    static ComPtr Attach(T* p) noexcept {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }

    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // Releases the current pointer and returns the slot for an out parameter.
    T** receive() noexcept {
        reset();
        return &m_p;
    }
    void** receiveVoid() noexcept { return reinterpret_cast<void**>(receive()); }

    template <typename U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(__uuidof(U), out->receiveVoid());
    }

private:
    T* m_p = nullptr;
};

}  // namespace velisk
