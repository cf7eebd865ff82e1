#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/com/OleInterfaces.h"

namespace reel {

namespace {

// The bytes that a stream and its clones share.
struct SharedBytes {
  std::mutex mutex;
  std::string bytes;
};

// The largest stream kept in memory; larger sizes are refused as a full medium.
constexpr ULONGLONG kLargestStream = std::numeric_limits<std::uint32_t>::max();

class MemoryStream final : public ComObject<IStream> {
 public:
  MemoryStream(std::shared_ptr<SharedBytes> shared, ULONGLONG position)
      : shared_(std::move(shared)), position_(position) {}

  HRESULT Read(void* data, ULONG size, ULONG* read) override {
    if (read) *read = 0;
    if (!data && size) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(shared_->mutex);
    const ULONGLONG length = shared_->bytes.size();
    const ULONGLONG available = position_ < length ? length - position_ : 0;
    const ULONG count = static_cast<ULONG>(std::min<ULONGLONG>(size, available));
    if (count) std::memcpy(data, shared_->bytes.data() + position_, count);
    position_ += count;
    if (read) *read = count;
    // Reading past the end is not an error: the count tells.
    return count == size ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (!data && size) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(shared_->mutex);
    const ULONGLONG end = position_ + size;
    if (end > kLargestStream) return STG_E_MEDIUMFULL;
    // Writing past the end fills the gap with zeros, as a file does.
    if (end > shared_->bytes.size()) shared_->bytes.resize(static_cast<std::size_t>(end), '\0');
    if (size) std::memcpy(shared_->bytes.data() + position_, data, size);
    position_ = end;
    if (written) *written = size;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    std::lock_guard lock(shared_->mutex);
    long double base;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<long double>(position_); break;
      case STREAM_SEEK_END: base = static_cast<long double>(shared_->bytes.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const long double target = base + static_cast<long double>(move.QuadPart);
    if (target < 0) return STG_E_INVALIDFUNCTION;  // before the start
    if (target > static_cast<long double>(kLargestStream)) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<ULONGLONG>(target);
    if (position) position->QuadPart = position_;
    return S_OK;
  }

  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (size.QuadPart > kLargestStream) return STG_E_MEDIUMFULL;
    std::lock_guard lock(shared_->mutex);
    shared_->bytes.resize(static_cast<std::size_t>(size.QuadPart), '\0');
    return S_OK;
  }

  HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    if (!target) return STG_E_INVALIDPOINTER;
    ULONGLONG remaining = size.QuadPart;
    char buffer[65536];
    while (remaining > 0) {
      ULONG got = 0;
      Read(buffer, static_cast<ULONG>(std::min<ULONGLONG>(remaining, sizeof buffer)), &got);
      if (got == 0) break;
      if (read) read->QuadPart += got;
      ULONG put = 0;
      HRESULT result = target->Write(buffer, got, &put);
      if (written) written->QuadPart += put;
      if (FAILED(result)) return result;
      remaining -= got;
    }
    return S_OK;
  }

  HRESULT Commit(DWORD) override { return S_OK; }  // nothing is buffered
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

  HRESULT Stat(STATSTG* statistics, DWORD) override {
    if (!statistics) return STG_E_INVALIDPOINTER;
    std::memset(statistics, 0, sizeof *statistics);
    statistics->type = STGTY_STREAM;
    std::lock_guard lock(shared_->mutex);
    statistics->cbSize.QuadPart = shared_->bytes.size();
    return S_OK;
  }

  HRESULT Clone(IStream** copy) override {
    if (!copy) return STG_E_INVALIDPOINTER;
    ComPtr<MemoryStream> clone = MakeComObject<MemoryStream>(shared_, position_);
    *copy = clone.Detach();
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::shared_ptr<SharedBytes> shared_;
  ULONGLONG position_;
};

}  // namespace

HRESULT CreateMemoryStream(const void* initial, std::size_t size, IStream** stream) {
  if (!stream) return E_POINTER;
  *stream = nullptr;
  if (!initial && size) return E_INVALIDARG;
  if (size > kLargestStream) return E_OUTOFMEMORY;
  auto shared = std::make_shared<SharedBytes>();
  if (size) shared->bytes.assign(static_cast<const char*>(initial), size);
  ComPtr<MemoryStream> created = MakeComObject<MemoryStream>(std::move(shared), 0);
  *stream = created.Detach();
  return *stream ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadWholeStream(IStream* stream, std::string* bytes) {
  if (!stream || !bytes) return E_POINTER;
  bytes->clear();
  ULARGE_INTEGER saved{};
  LARGE_INTEGER zero{};
  HRESULT result = stream->Seek(zero, STREAM_SEEK_CUR, &saved);
  if (FAILED(result)) return result;
  result = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(result)) return result;
  char buffer[65536];
  for (;;) {
    ULONG got = 0;
    result = stream->Read(buffer, sizeof buffer, &got);
    if (FAILED(result)) break;
    bytes->append(buffer, got);
    if (got < sizeof buffer) break;
  }
  LARGE_INTEGER back{};
  back.QuadPart = static_cast<LONGLONG>(saved.QuadPart);
  stream->Seek(back, STREAM_SEEK_SET, nullptr);
  return FAILED(result) ? result : S_OK;
}

}  // namespace reel
