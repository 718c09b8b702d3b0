#include "win32/LogoWindowView.h"

#include "resource.h"
#include "win32/FormWindow.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/WindowUtil.h"

#include <windows.h>

#include <wincodec.h>
#include <windowsx.h>

namespace varnek::win32 {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Owns one reference to a COM object.
template <class T> class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_) {
            p_->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** Put() { return &p_; }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }

private:
    T* p_ = nullptr;
};

// The launcher picture from the program's resources, decoded and scaled to width × height as
// a 32-bit top-down DIB section; null when the resource or the decoder is missing.
HBITMAP LoadPicture(int width, int height) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_LAUNCHER_JPEG), RT_RCDATA);
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<BYTE*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        return nullptr;
    }
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    ComRef<IWICFormatConverter> converter;
    ComRef<IWICBitmapScaler> scaler;
    static const auto createInstance =
        SystemFunction<decltype(&CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
    if (!EnsureCom() || !createInstance ||
        FAILED(createInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Put()))) ||
        FAILED(factory->CreateStream(stream.Put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes),
                                            SizeofResource(module, resource))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put())) ||
        FAILED(decoder->GetFrame(0, frame.Put())) ||
        FAILED(factory->CreateFormatConverter(converter.Put())) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return nullptr;
    }
    IWICBitmapSource* source = converter.Get();
    UINT sourceWidth = 0;
    UINT sourceHeight = 0;
    source->GetSize(&sourceWidth, &sourceHeight);
    if (static_cast<int>(sourceWidth) != width || static_cast<int>(sourceHeight) != height) {
        if (FAILED(factory->CreateBitmapScaler(scaler.Put())) ||
            FAILED(scaler->Initialize(source, static_cast<UINT>(width), static_cast<UINT>(height),
                                      WICBitmapInterpolationModeFant))) {
            return nullptr;
        }
        source = scaler.Get();
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down, as WIC writes the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        return nullptr;
    }
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(source->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                  static_cast<BYTE*>(bits)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

class LogoWindow final : public FormWindow {
public:
    explicit LogoWindow(LogoForm& model);
    ~LogoWindow() override;

    void ControlChanged(int) override {}

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    void ApplyDpi(UINT dpi) override;
    void Close() override { model_.Unload(); }
    void Paint();

    LogoForm& model_;
    UINT dpi_ = 96;
    HBITMAP picture_ = nullptr; // the picture at dpi_
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
};

LogoWindow::LogoWindow(LogoForm& model) : model_(model) {
    if (Create(LogoWindowClass, COLOR_WINDOW, 0, WindowStyle, LogoForm::Caption)) {
        ApplyDpi(WindowDpi(hwnd_));
    }
}

LogoWindow::~LogoWindow() {
    Destroy(); // the window goes before its picture
    if (picture_) {
        DeleteObject(picture_);
    }
}

// Sizes the window and makes the picture for `dpi`, once.
void LogoWindow::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    const int scale = static_cast<int>(dpi);
    pictureWidth_ = MulDiv(LogoForm::PictureWidth, scale, 96);
    pictureHeight_ = MulDiv(LogoForm::PictureHeight, scale, 96);
    if (picture_) {
        DeleteObject(picture_);
    }
    picture_ = LoadPicture(pictureWidth_, pictureHeight_);
    SetClientSize(hwnd_, MulDiv(LogoForm::ClientWidthTwips, scale, 1440),
                  MulDiv(LogoForm::ClientHeightTwips, scale, 1440));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void LogoWindow::Paint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(hwnd_, &paint);
    if (picture_) {
        const HDC memory = CreateCompatibleDC(dc);
        const HGDIOBJ old = SelectObject(memory, picture_);
        BitBlt(dc, 0, 0, pictureWidth_, pictureHeight_, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    EndPaint(hwnd_, &paint);
}

LRESULT LogoWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_LBUTTONUP: {
        const int scale = static_cast<int>(dpi_);
        model_.ClickAt(MulDiv(GET_X_LPARAM(lParam), 1440, scale),
                       MulDiv(GET_Y_LPARAM(lParam), 1440, scale));
        return 0;
    }
    default:
        break;
    }
    return HandleDefault(message, wParam, lParam);
}

} // namespace

std::unique_ptr<varnek::IFormView> CreateLogoWindow(varnek::LogoForm& model) {
    return std::make_unique<LogoWindow>(model);
}

} // namespace varnek::win32
