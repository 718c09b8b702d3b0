// One owner for every Win32 handle the program makes: a Unique<Kind> holds it and releases it
// the way its kind is released, when the owner goes or is given another handle. Every handle
// of the program lives in one of these, in the scope (or the object) that made it; nothing is
// released by hand.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <utility>

struct _WINTRUST_DATA;

namespace varnek::win32 {

template <class Kind> class Unique {
public:
    using Type = typename Kind::Type;

    Unique() = default;
    explicit Unique(Type value) : value_(value) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    Type get() const { return value_; }
    explicit operator bool() const { return Kind::Valid(value_); }
    // Gives the handle up without releasing it.
    Type release() { return std::exchange(value_, Kind::Invalid()); }
    // Releases the handle held (if any) and holds `value` instead.
    void reset(Type value = Kind::Invalid()) {
        const Type old = std::exchange(value_, value);
        if (Kind::Valid(old)) {
            Kind::Release(old);
        }
    }
    // For a call that hands a new handle out through a pointer: the old one goes first.
    Type* put() {
        reset();
        return &value_;
    }

private:
    Type value_ = Kind::Invalid();
};

namespace handle_kind {

// A kind whose empty value is null.
template <class T> struct NullIsEmpty {
    using Type = T;
    static constexpr T Invalid() { return nullptr; }
    static bool Valid(T value) { return value != nullptr; }
};

// Kernel objects: processes, threads, mutexes, snapshots, files. Functions that make them
// answer failure with null or with INVALID_HANDLE_VALUE, depending on the function; neither is
// a handle.
struct Kernel : NullIsEmpty<HANDLE> {
    static bool Valid(HANDLE value) { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void Release(HANDLE value) { CloseHandle(value); }
};
struct Find {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE value) { return value != INVALID_HANDLE_VALUE; }
    static void Release(HANDLE value) { FindClose(value); }
};
// Internet handles (HINTERNET), closed through the WinINet the program loaded on first use.
struct Internet : NullIsEmpty<void*> {
    static void Release(void* value);
};
template <class T> struct GdiObject : NullIsEmpty<T> {
    static void Release(T value) { DeleteObject(value); }
};
struct Icon : NullIsEmpty<HICON> {
    static void Release(HICON value) { DestroyIcon(value); }
};
// A device context the program created (CreateCompatibleDC).
struct MemoryDc : NullIsEmpty<HDC> {
    static void Release(HDC value) { DeleteDC(value); }
};
// The screen's device context (GetDC(nullptr)).
struct ScreenDc : NullIsEmpty<HDC> {
    static void Release(HDC value) { ReleaseDC(nullptr, value); }
};
struct RegistryKey : NullIsEmpty<HKEY> {
    static void Release(HKEY value) { RegCloseKey(value); }
};
struct Library : NullIsEmpty<HMODULE> {
    static void Release(HMODULE value) { FreeLibrary(value); }
};
struct Menu : NullIsEmpty<HMENU> {
    static void Release(HMENU value) { DestroyMenu(value); }
};
struct Window : NullIsEmpty<HWND> {
    static void Release(HWND value) { DestroyWindow(value); }
};
// The state WinVerifyTrust keeps between a check and its close: released by the close action,
// through the trust library the program loaded on first use.
struct TrustState : NullIsEmpty<_WINTRUST_DATA*> {
    static void Release(_WINTRUST_DATA* value);
};

} // namespace handle_kind

using UniqueHandle = Unique<handle_kind::Kernel>;
using UniqueFind = Unique<handle_kind::Find>;
using UniqueInternet = Unique<handle_kind::Internet>;
using UniqueBitmap = Unique<handle_kind::GdiObject<HBITMAP>>;
using UniqueFont = Unique<handle_kind::GdiObject<HFONT>>;
using UniqueIcon = Unique<handle_kind::Icon>;
using UniqueMemoryDc = Unique<handle_kind::MemoryDc>;
using UniqueScreenDc = Unique<handle_kind::ScreenDc>;
using UniqueRegKey = Unique<handle_kind::RegistryKey>;
using UniqueLibrary = Unique<handle_kind::Library>;
using UniqueMenu = Unique<handle_kind::Menu>;
using UniqueWindow = Unique<handle_kind::Window>;
using UniqueTrustState = Unique<handle_kind::TrustState>;

// An object selected into a device context for a scope: the one it replaced goes back in.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selected() {
        if (ok()) {
            SelectObject(dc_, previous_);
        }
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
    // False when the object could not be selected.
    bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// BeginPaint and EndPaint of one WM_PAINT.
class Painting {
public:
    explicit Painting(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~Painting() { EndPaint(window_, &paint_); }
    Painting(const Painting&) = delete;
    Painting& operator=(const Painting&) = delete;
    HDC dc() const { return dc_; }
    const PAINTSTRUCT& paint() const { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

// One reference to a COM object.
template <class T> class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** put() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    void reset() {
        if (p_) {
            std::exchange(p_, nullptr)->Release();
        }
    }

private:
    T* p_ = nullptr;
};

} // namespace varnek::win32
