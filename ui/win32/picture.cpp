#include "ui/win32/picture.h"

#include <wincodec.h>

#include <memory>
#include <span>

namespace pellamar::win32 {
namespace {

struct ReleaseCom {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComRef = std::unique_ptr<Interface, ReleaseCom>;

// Stores a fresh COM reference: `ComRef<T> ref; Factory(Out(ref))`.
template <typename Interface>
class Out {
 public:
  explicit Out(ComRef<Interface>& target) : target_(target) {}
  ~Out() { target_.reset(raw_); }
  operator Interface**() { return &raw_; }

 private:
  ComRef<Interface>& target_;
  Interface* raw_ = nullptr;
};

std::span<const BYTE> ResourceBytes(HINSTANCE instance, int resource_id) {
  const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource_id), RT_RCDATA);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(instance, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return {static_cast<const BYTE*>(bytes), SizeofResource(instance, found)};
}

ComRef<IWICImagingFactory> NewImagingFactory() {
  ComRef<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(static_cast<IWICImagingFactory**>(Out(factory))));
  return factory;
}

// The first frame of the GIF in `bytes` as premultiplied 32-bit BGRA,
// scaled to `width` x `height` by repeating pixels.
ComRef<IWICBitmapSource> DecodeGif(IWICImagingFactory& factory, std::span<const BYTE> bytes,
                                   int width, int height) {
  ComRef<IWICStream> stream;
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  ComRef<IWICFormatConverter> converter;
  ComRef<IWICBitmapScaler> scaler;
  if (FAILED(factory.CreateStream(Out(stream)))) return nullptr;
  if (FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size())))) {
    return nullptr;
  }
  if (FAILED(factory.CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                             Out(decoder)))) {
    return nullptr;
  }
  if (FAILED(decoder->GetFrame(0, Out(frame)))) return nullptr;
  if (FAILED(factory.CreateFormatConverter(Out(converter)))) return nullptr;
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  if (FAILED(factory.CreateBitmapScaler(Out(scaler)))) return nullptr;
  if (FAILED(scaler->Initialize(converter.get(), static_cast<UINT>(width),
                                static_cast<UINT>(height),
                                WICBitmapInterpolationModeNearestNeighbor))) {
    return nullptr;
  }
  return ComRef<IWICBitmapSource>(scaler.release());
}

// A top-down 32-bit DIB section holding `source`'s pixels, or nullptr.
HBITMAP ToBitmap(IWICBitmapSource& source, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  const UINT stride = static_cast<UINT>(width) * 4;
  if (FAILED(source.CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                               static_cast<BYTE*>(bits)))) {
    DeleteObject(bitmap);
    return nullptr;
  }
  return bitmap;
}

}  // namespace

HIMAGELIST LoadPicture(HINSTANCE instance, int resource_id, int width, int height) {
  const std::span<const BYTE> bytes = ResourceBytes(instance, resource_id);
  if (bytes.empty() || width <= 0 || height <= 0) return nullptr;
  const ComRef<IWICImagingFactory> factory = NewImagingFactory();
  if (!factory) return nullptr;
  const ComRef<IWICBitmapSource> pixels = DecodeGif(*factory, bytes, width, height);
  if (!pixels) return nullptr;
  const HBITMAP bitmap = ToBitmap(*pixels, width, height);
  if (bitmap == nullptr) return nullptr;
  HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR32, 1, 0);
  if (list != nullptr && ImageList_Add(list, bitmap, nullptr) < 0) {
    ImageList_Destroy(list);
    list = nullptr;
  }
  DeleteObject(bitmap);
  return list;
}

}  // namespace pellamar::win32
