// The Colour Space Converter: uncompressed video in (RGB or YUV), the same
// picture out as RGB32, RGB24, RGB565 or RGB555 at the same size.
#include <algorithm>

#include "platform/com/ClassTable.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PictureConversion.h"
#include "platform/dshow/StockFilters.h"
#include "platform/dshow/TransformFilter.h"

namespace {

const GUID* const kOutputSubtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565,
                                       &MEDIASUBTYPE_RGB555};

class CColourSpaceConverter : public CTransformFilter {
 public:
  explicit CColourSpaceConverter(LPUNKNOWN outer) : CTransformFilter("colour space converter", outer, CLSID_Colour) {}

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    return reel::IsUncompressedVideo(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(std::size(kOutputSubtypes))) return VFW_S_NO_MORE_ITEMS;
    const CMediaType& input = m_pInput->CurrentMediaType();
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
    const VIDEOINFOHEADER* info = reel::VideoInfoOf(input);
    return reel::MakeVideoType(*kOutputSubtypes[position], header->biWidth, std::abs(header->biHeight),
                               info ? info->AvgTimePerFrame : 0, mediaType)
               ? S_OK
               : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!reel::IsUncompressedVideo(*in) || !reel::IsUncompressedVideo(*out)) return VFW_E_TYPE_NOT_ACCEPTED;
    bool rgb = std::any_of(std::begin(kOutputSubtypes), std::end(kOutputSubtypes),
                           [&](const GUID* subtype) { return *subtype == out->subtype; });
    if (!rgb) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* from = reel::BitmapHeaderOf(*in);
    const BITMAPINFOHEADER* to = reel::BitmapHeaderOf(*out);
    if (from->biWidth != to->biWidth || std::abs(from->biHeight) != std::abs(to->biHeight))
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(m_pOutput->CurrentMediaType().GetSampleSize()));
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
    uint8_t* planes[4];
    int strides[4];
    if (!reel::PicturePlanes(inputType, source, in->GetActualDataLength(), planes, strides)) return S_FALSE;
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(inputType);
    if (!converter_.Convert(planes, strides, reel::PixelFormatOfSubtype(inputType.subtype), header->biWidth,
                            std::abs(header->biHeight), outputType, target, out->GetSize()))
      return S_FALSE;
    out->SetActualDataLength(static_cast<LONG>(outputType.GetSampleSize()));
    return S_OK;
  }

 private:
  reel::PictureConverter converter_;
};

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_Colour, &reel::CreateComObject<CColourSpaceConverter>);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_Colour;
  filter.name = u"Color Space Converter";
  filter.merit = MERIT_UNLIKELY;
  std::vector<reel::RegisteredPinType> outputs;
  for (const GUID* subtype : kOutputSubtypes) outputs.push_back({MEDIATYPE_Video, *subtype});
  filter.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}},
                 {u"Output", true, false, false, false, outputs}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace
