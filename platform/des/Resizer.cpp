#include "platform/des/Resizer.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>

#include "platform/com/ClassTable.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PictureConversion.h"
#include "platform/dshow/TransformFilter.h"

namespace reel {

namespace {

int Even(int value) { return value & ~1; }

PixelRect Centred(int width, int height, int areaWidth, int areaHeight, bool even) {
  PixelRect rect{(areaWidth - width) / 2, (areaHeight - height) / 2, width, height};
  if (even) rect = {Even(rect.left), Even(rect.top), std::max(2, Even(width)), std::max(2, Even(height))};
  return rect;
}

}  // namespace

ResizePlan PlanResize(int inputWidth, int inputHeight, int outputWidth, int outputHeight, long flag, bool even) {
  ResizePlan plan;
  plan.source = {0, 0, inputWidth, inputHeight};
  plan.target = {0, 0, outputWidth, outputHeight};
  const double widthRatio = static_cast<double>(outputWidth) / inputWidth;
  const double heightRatio = static_cast<double>(outputHeight) / inputHeight;
  switch (flag) {
    case RESIZEF_CROP: {
      // One input pixel per output pixel: the middle of the larger side is
      // kept, a smaller side sits in the middle of black.
      const int width = std::min(inputWidth, outputWidth);
      const int height = std::min(inputHeight, outputHeight);
      plan.source = Centred(width, height, inputWidth, inputHeight, even);
      plan.target = Centred(width, height, outputWidth, outputHeight, even);
      break;
    }
    case RESIZEF_PRESERVEASPECTRATIO: {
      const double scale = std::min(widthRatio, heightRatio);
      const int width = std::clamp(static_cast<int>(std::lround(inputWidth * scale)), 1, outputWidth);
      const int height = std::clamp(static_cast<int>(std::lround(inputHeight * scale)), 1, outputHeight);
      plan.target = Centred(width, height, outputWidth, outputHeight, even);
      break;
    }
    case RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX: {
      const double scale = std::max(widthRatio, heightRatio);
      const int width = std::clamp(static_cast<int>(std::lround(outputWidth / scale)), 1, inputWidth);
      const int height = std::clamp(static_cast<int>(std::lround(outputHeight / scale)), 1, inputHeight);
      plan.source = Centred(width, height, inputWidth, inputHeight, even);
      break;
    }
    default:
      break;
  }
  // Even rounding may not grow a rectangle past its picture.
  plan.source.width = std::min(plan.source.width, inputWidth - plan.source.left);
  plan.source.height = std::min(plan.source.height, inputHeight - plan.source.top);
  plan.target.width = std::min(plan.target.width, outputWidth - plan.target.left);
  plan.target.height = std::min(plan.target.height, outputHeight - plan.target.top);
  plan.letterboxed = !(plan.target == PixelRect{0, 0, outputWidth, outputHeight});
  return plan;
}

namespace {

constexpr int kLargestSide = 16384;

const GUID* const kOtherOutputSubtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24};

bool ChromaSubsampled(AVPixelFormat format) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  return descriptor && (descriptor->log2_chroma_w > 0 || descriptor->log2_chroma_h > 0);
}

// Moves plane pointers to the rectangle's top-left pixel.
void OffsetPlanes(AVPixelFormat format, const PixelRect& rect, uint8_t* planes[4], const int strides[4]) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  const bool planar = descriptor->flags & AV_PIX_FMT_FLAG_PLANAR;
  for (int plane = 0; plane < 4 && planes[plane]; ++plane) {
    const bool chroma = planar && (plane == 1 || plane == 2);
    const int row = chroma ? rect.top >> descriptor->log2_chroma_h : rect.top;
    planes[plane] += static_cast<std::ptrdiff_t>(row) * strides[plane] + av_image_get_linesize(format, rect.left, plane);
  }
}

class CResizer : public CTransformFilter, public IResize {
 public:
  explicit CResizer(LPUNKNOWN outer) : CTransformFilter("resizer", outer, CLSID_Resize) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IResize) return GetInterface(static_cast<IResize*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  // --- IResize

  HRESULT get_Size(int* height, int* width, long* flag) override {
    if (!height || !width || !flag) return E_POINTER;
    CAutoLock hold(&m_csFilter);
    int outputWidth = 0, outputHeight = 0;
    OutputSize(&outputWidth, &outputHeight);
    *height = outputHeight;
    *width = outputWidth;
    *flag = flag_;
    return S_OK;
  }

  HRESULT get_InputSize(int* height, int* width) override {
    if (!height || !width) return E_POINTER;
    CAutoLock hold(&m_csFilter);
    if (!m_pInput || !m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
    const BITMAPINFOHEADER* header = BitmapHeaderOf(m_pInput->CurrentMediaType());
    *height = std::abs(header->biHeight);
    *width = header->biWidth;
    return S_OK;
  }

  HRESULT put_Size(int height, int width, long flag) override {
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide) return E_INVALIDARG;
    if (flag < RESIZEF_STRETCH || flag > RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX) return E_INVALIDARG;
    CAutoLock hold(&m_csFilter);
    if (m_pOutput && m_pOutput->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    width_ = width;
    height_ = height;
    flag_ = flag;
    return S_OK;
  }

  HRESULT get_MediaType(AM_MEDIA_TYPE* mediaType) override {
    if (!mediaType) return E_POINTER;
    CAutoLock hold(&m_csFilter);
    CMediaType type;
    if (m_pOutput && m_pOutput->IsConnected()) type = m_pOutput->CurrentMediaType();
    else if (FAILED(GetMediaType(0, &type))) return VFW_E_NOT_CONNECTED;
    return CopyMediaType(mediaType, &type);
  }

  HRESULT put_MediaType(const AM_MEDIA_TYPE* mediaType) override {
    if (!mediaType) return E_POINTER;
    if (mediaType->majortype != MEDIATYPE_Video || !IsUncompressedVideo(*mediaType)) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* header = BitmapHeaderOf(*mediaType);
    if (!header) return VFW_E_TYPE_NOT_ACCEPTED;
    CAutoLock hold(&m_csFilter);
    if (m_pOutput && m_pOutput->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    const int width = header->biWidth;
    const int height = std::abs(header->biHeight);
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide) return E_INVALIDARG;
    width_ = width;
    height_ = height;
    subtype_ = mediaType->subtype;
    return S_OK;
  }

  // --- transform

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    return IsUncompressedVideo(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  // The chosen subtype (else the input's, then RGB32 and RGB24) at the
  // chosen size (else the input's).
  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    const CMediaType& input = m_pInput->CurrentMediaType();
    const GUID* subtype = nullptr;
    if (subtype_ != GUID_NULL) {
      if (position > 0) return VFW_S_NO_MORE_ITEMS;
      subtype = &subtype_;
    } else if (position == 0) {
      subtype = &input.subtype;
    } else if (position <= static_cast<int>(std::size(kOtherOutputSubtypes))) {
      subtype = kOtherOutputSubtypes[position - 1];
    } else {
      return VFW_S_NO_MORE_ITEMS;
    }
    int width = 0, height = 0;
    OutputSize(&width, &height);
    const VIDEOINFOHEADER* info = VideoInfoOf(input);
    return MakeVideoType(*subtype, width, height, info ? info->AvgTimePerFrame : 0, mediaType) ? S_OK
                                                                                               : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!IsUncompressedVideo(*in) || !IsUncompressedVideo(*out)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (subtype_ != GUID_NULL && out->subtype != subtype_) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* to = BitmapHeaderOf(*out);
    int width = 0, height = 0;
    OutputSizeFor(*in, &width, &height);
    if (!to || to->biWidth != width || std::abs(to->biHeight) != height) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer =
        std::max<LONG>(request->cbBuffer, static_cast<LONG>(m_pOutput->CurrentMediaType().GetSampleSize()));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    const CMediaType& inputType = m_pInput->CurrentMediaType();
    const CMediaType& outputType = m_pOutput->CurrentMediaType();
    BYTE* source = nullptr;
    BYTE* target = nullptr;
    in->GetPointer(&source);
    out->GetPointer(&target);
    uint8_t* sourcePlanes[4];
    int sourceStrides[4];
    uint8_t* targetPlanes[4];
    int targetStrides[4];
    // A sample too short for its picture is dropped.
    if (!PicturePlanes(inputType, source, in->GetActualDataLength(), sourcePlanes, sourceStrides)) return S_FALSE;
    if (!PicturePlanes(outputType, target, out->GetSize(), targetPlanes, targetStrides)) return S_FALSE;
    const BITMAPINFOHEADER* from = BitmapHeaderOf(inputType);
    const BITMAPINFOHEADER* to = BitmapHeaderOf(outputType);
    const AVPixelFormat sourceFormat = PixelFormatOfSubtype(inputType.subtype);
    const AVPixelFormat targetFormat = PixelFormatOfSubtype(outputType.subtype);
    const int outputWidth = to->biWidth;
    const int outputHeight = std::abs(to->biHeight);
    const bool even = ChromaSubsampled(sourceFormat) || ChromaSubsampled(targetFormat);
    const ResizePlan plan = PlanResize(from->biWidth, std::abs(from->biHeight), outputWidth, outputHeight, flag_, even);
    if (plan.letterboxed) {
      ptrdiff_t lineSizes[4];
      for (int plane = 0; plane < 4; ++plane) lineSizes[plane] = targetStrides[plane];
      av_image_fill_black(targetPlanes, lineSizes, targetFormat, AVCOL_RANGE_MPEG, outputWidth, outputHeight);
    }
    OffsetPlanes(sourceFormat, plan.source, sourcePlanes, sourceStrides);
    OffsetPlanes(targetFormat, plan.target, targetPlanes, targetStrides);
    if (!converter_.Scale(sourcePlanes, sourceStrides, sourceFormat, plan.source.width, plan.source.height,
                          targetPlanes, targetStrides, targetFormat, plan.target.width, plan.target.height))
      return S_FALSE;
    out->SetActualDataLength(static_cast<LONG>(outputType.GetSampleSize()));
    return S_OK;
  }

 private:
  void OutputSize(int* width, int* height) {
    if (m_pInput && m_pInput->IsConnected()) {
      OutputSizeFor(m_pInput->CurrentMediaType(), width, height);
    } else {
      *width = width_;
      *height = height_;
    }
  }

  // The chosen size, or the input's when none was chosen.
  void OutputSizeFor(const AM_MEDIA_TYPE& input, int* width, int* height) {
    const BITMAPINFOHEADER* header = BitmapHeaderOf(input);
    *width = width_ > 0 ? width_ : (header ? static_cast<int>(header->biWidth) : 0);
    *height = height_ > 0 ? height_ : (header ? std::abs(static_cast<int>(header->biHeight)) : 0);
  }

  int width_ = 0;
  int height_ = 0;
  long flag_ = RESIZEF_STRETCH;
  GUID subtype_ = GUID_NULL;
  PictureConverter converter_;
};

const bool kRegistered = [] {
  RegisterBuiltinClass(CLSID_Resize, &CreateComObject<CResizer>);
  RegisteredFilter filter;
  filter.clsid = CLSID_Resize;
  filter.name = u"Stretch Video";
  // Inserted on purpose only: automatic connection never picks it.
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}},
                 {u"Output", true, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}}};
  return RegisterBuiltinFilter(filter);
}();

}  // namespace
}  // namespace reel
