// The File Writer (CLSID_FileWriter): one byte-stream input pin whose
// samples are written at the offsets their times give (OutputInterfaces.h),
// and IFileSinkFilter2 to name the file. The file is opened when the filter
// leaves the stopped state and closed when it stops; it renders its stream,
// so it sends EC_COMPLETE once the multiplexer's end of stream arrives and
// everything before it is in the file.
//
// The file always starts empty: writing a new stream into the bytes of an
// older, longer file would leave its tail behind and corrupt the result, so
// the AM_FILE_OVERWRITE mode is kept and reported but the file is truncated
// either way.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/OutputInterfaces.h"
#include "platform/win/Strings.h"

namespace {

class CFileWriter;

class CFileWriterInputPin : public CBaseInputPin {
 public:
  CFileWriterInputPin(CFileWriter* writer, CCritSec* lock, HRESULT* result);
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    return mediaType->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;

 private:
  CFileWriter* writer_;
};

class CFileWriter : public CBaseFilter, public IFileSinkFilter2 {
 public:
  explicit CFileWriter(LPUNKNOWN outer) : CBaseFilter("file writer", outer, &lock_, CLSID_FileWriter) {
    HRESULT result = S_OK;
    input_ = std::make_unique<CFileWriterInputPin>(this, &lock_, &result);
  }
  ~CFileWriter() override { CloseFile(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (riid == IID_IFileSinkFilter2) return GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int index) override { return index == 0 ? input_.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Pause() override {
    CAutoLock hold(&lock_);
    if (m_State == State_Stopped) {
      HRESULT opened = OpenFile();
      if (FAILED(opened)) return opened;
    }
    return CBaseFilter::Pause();
  }
  HRESULT Stop() override {
    CAutoLock hold(&lock_);
    HRESULT result = CBaseFilter::Stop();
    CloseFile();
    return result;
  }

  // IFileSinkFilter
  HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) override {
    if (!fileName) return E_POINTER;
    if (*fileName == 0) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    fileName_ = fileName;
    if (mediaType)
      fileType_ = *mediaType;
    else
      fileType_ = CMediaType();
    return S_OK;
  }
  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override {
    if (!fileName) return E_POINTER;
    CAutoLock hold(&lock_);
    *fileName = nullptr;
    if (fileName_.empty()) return E_FAIL;
    *fileName = reel::CoTaskMemWideCopy(fileName_);
    if (!*fileName) return E_OUTOFMEMORY;
    if (mediaType && FAILED(CopyMediaType(mediaType, &fileType_))) return E_OUTOFMEMORY;
    return S_OK;
  }
  // IFileSinkFilter2
  HRESULT SetMode(DWORD flags) override {
    if (flags & ~AM_FILE_OVERWRITE) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    mode_ = flags;
    return S_OK;
  }
  HRESULT GetMode(DWORD* flags) override {
    if (!flags) return E_POINTER;
    CAutoLock hold(&lock_);
    *flags = mode_;
    return S_OK;
  }

  // Writes the sample's bytes at its offset; a sample without times goes
  // after the furthest byte written so far.
  HRESULT WriteSample(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    LONG length = sample->GetActualDataLength();
    if (length < 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(fileLock_);
    if (descriptor_ < 0) return VFW_E_WRONG_STATE;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    off_t offset = end_;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
      if (start < 0) return E_INVALIDARG;
      offset = static_cast<off_t>(start);
    }
    LONG written = 0;
    while (written < length) {
      ssize_t count = pwrite(descriptor_, data + written, static_cast<size_t>(length - written), offset + written);
      if (count < 0) {
        if (errno == EINTR) continue;
        return reel::FileErrorResult(errno);
      }
      written += static_cast<LONG>(count);
    }
    if (offset + length > end_) end_ = offset + length;
    return S_OK;
  }

  HRESULT EndOfStreamReached() {
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
  }

 private:
  HRESULT OpenFile() {
    if (fileName_.empty()) return E_INVALIDARG;
    std::string path = reel::Utf16ToUtf8(fileName_);
    std::lock_guard<std::mutex> hold(fileLock_);
    if (descriptor_ >= 0) return S_OK;
    descriptor_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor_ < 0) return reel::FileErrorResult(errno);
    end_ = 0;
    return S_OK;
  }
  void CloseFile() {
    std::lock_guard<std::mutex> hold(fileLock_);
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
  }

  CCritSec lock_;
  std::unique_ptr<CFileWriterInputPin> input_;
  std::u16string fileName_;
  CMediaType fileType_;
  DWORD mode_ = 0;
  std::mutex fileLock_;  // guards the descriptor and the end offset
  int descriptor_ = -1;
  off_t end_ = 0;
};

CFileWriterInputPin::CFileWriterInputPin(CFileWriter* writer, CCritSec* lock, HRESULT* result)
    : CBaseInputPin("file writer input", writer, lock, result, u"in"), writer_(writer) {}

HRESULT CFileWriterInputPin::Receive(IMediaSample* sample) {
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  return writer_->WriteSample(sample);
}

HRESULT CFileWriterInputPin::EndOfStream() {
  HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  return writer_->EndOfStreamReached();
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_FileWriter, &reel::CreateComObject<CFileWriter>);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_FileWriter;
  filter.name = u"File writer";
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"in", false, true, false, false, {{MEDIATYPE_Stream, GUID_NULL}}}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace
