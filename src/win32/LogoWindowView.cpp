#include "win32/LogoWindowView.h"

#include "resource.h"
#include "win32/FormWindow.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/UniqueHandle.h"
#include "win32/WindowUtil.h"

#include <windows.h>

#include <wincodec.h>
#include <windowsx.h>

namespace varnek::win32 {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The launcher picture from the program's resources, decoded and scaled to width × height as
// a 32-bit top-down DIB section; null when the resource or the decoder is missing.
UniqueBitmap LoadPicture(int width, int height) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_LAUNCHER_JPEG), RT_RCDATA);
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<BYTE*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        return {};
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
                              IID_IWICImagingFactory, reinterpret_cast<void**>(factory.put()))) ||
        FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes),
                                            SizeofResource(module, resource))) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return {};
    }
    IWICBitmapSource* source = converter.get();
    UINT sourceWidth = 0;
    UINT sourceHeight = 0;
    source->GetSize(&sourceWidth, &sourceHeight);
    if (static_cast<int>(sourceWidth) != width || static_cast<int>(sourceHeight) != height) {
        if (FAILED(factory->CreateBitmapScaler(scaler.put())) ||
            FAILED(scaler->Initialize(source, static_cast<UINT>(width), static_cast<UINT>(height),
                                      WICBitmapInterpolationModeFant))) {
            return {};
        }
        source = scaler.get();
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down, as WIC writes the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        return {};
    }
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(source->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                  static_cast<BYTE*>(bits)))) {
        return {};
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
    UniqueBitmap picture_; // the picture at dpi_
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
}

// Sizes the window and makes the picture for `dpi`, once.
void LogoWindow::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    const int scale = static_cast<int>(dpi);
    pictureWidth_ = MulDiv(LogoForm::PictureWidth, scale, 96);
    pictureHeight_ = MulDiv(LogoForm::PictureHeight, scale, 96);
    picture_ = LoadPicture(pictureWidth_, pictureHeight_);
    SetClientSize(hwnd_, MulDiv(LogoForm::ClientWidthTwips, scale, 1440),
                  MulDiv(LogoForm::ClientHeightTwips, scale, 1440));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void LogoWindow::Paint() {
    const Painting painting(hwnd_);
    if (picture_) {
        const UniqueMemoryDc memory(CreateCompatibleDC(painting.dc()));
        const Selected picture(memory.get(), picture_.get());
        BitBlt(painting.dc(), 0, 0, pictureWidth_, pictureHeight_, memory.get(), 0, 0, SRCCOPY);
    }
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
