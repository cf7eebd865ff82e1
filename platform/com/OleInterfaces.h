// Small OLE interfaces that objects of the program implement or ask for:
// services, sites, persistence through property bags and streams.
#pragma once

#include <string>

#include "platform/com/Automation.h"
#include "platform/com/ComObject.h"

// 64-bit values of the stream interfaces, as Windows spells them.
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  ULONGLONG QuadPart;
};

// IStream::Seek origins and IStream::Stat flags.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;

constexpr HRESULT STG_E_INVALIDFUNCTION = HResultFromHex(0x80030001);
constexpr HRESULT STG_E_INVALIDPOINTER = HResultFromHex(0x80030009);
constexpr HRESULT STG_E_MEDIUMFULL = HResultFromHex(0x80030070);
constexpr HRESULT STG_E_READFAULT = HResultFromHex(0x8003001E);
constexpr HRESULT STG_E_WRITEFAULT = HResultFromHex(0x8003001D);

struct STATSTG {
  LPOLESTR pwcsName;  // CoTaskMemAlloc'd, unless STATFLAG_NONAME
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

REEL_DEFINE_GUID(IID_IServiceProvider, 0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA);
REEL_DEFINE_GUID(IID_IObjectWithSite, 0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);
REEL_DEFINE_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);
REEL_DEFINE_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
REEL_DEFINE_GUID(IID_IErrorLog, 0x3127CA40, 0x446E, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

struct IServiceProvider : IUnknown {
  virtual HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) = 0;
};

struct IObjectWithSite : IUnknown {
  virtual HRESULT SetSite(IUnknown* site) = 0;
  virtual HRESULT GetSite(REFIID riid, void** ppv) = 0;
};

struct IPersist : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

struct ISequentialStream : IUnknown {
  virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
};

struct IStream : ISequentialStream {
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
  virtual HRESULT Stat(STATSTG* statistics, DWORD flags) = 0;
  virtual HRESULT Clone(IStream** copy) = 0;
};

struct IPersistStream : IPersist {
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
};

struct IErrorLog : IUnknown {
  virtual HRESULT AddError(LPCOLESTR propertyName, EXCEPINFO* exception) = 0;
};

struct IPropertyBag : IUnknown {
  // value's vt on entry is the type wanted (VT_EMPTY: any).
  virtual HRESULT Read(LPCOLESTR propertyName, VARIANT* value, IErrorLog* errorLog) = 0;
  virtual HRESULT Write(LPCOLESTR propertyName, VARIANT* value) = 0;
};

template <>
inline constexpr const IID& reel::kIidOf<IServiceProvider> = IID_IServiceProvider;
template <>
inline constexpr const IID& reel::kIidOf<IObjectWithSite> = IID_IObjectWithSite;
template <>
inline constexpr const IID& reel::kIidOf<IPersist> = IID_IPersist;
template <>
inline constexpr const IID& reel::kIidOf<ISequentialStream> = IID_ISequentialStream;
template <>
inline constexpr const IID& reel::kIidOf<IStream> = IID_IStream;
template <>
inline constexpr const IID& reel::kIidOf<IPersistStream> = IID_IPersistStream;
template <>
inline constexpr const IID& reel::kIidOf<IErrorLog> = IID_IErrorLog;
template <>
inline constexpr const IID& reel::kIidOf<IPropertyBag> = IID_IPropertyBag;

// Objects implementing IStream or IPersistStream answer their bases too.
template <>
struct reel::InterfaceBases<IStream> {
  using type = std::tuple<ISequentialStream>;
};
template <>
struct reel::InterfaceBases<IPersistStream> {
  using type = std::tuple<IPersist>;
};

namespace reel {

// A growable in-memory IStream (as CreateStreamOnHGlobal gives), starting
// with a copy of initial. Clones share the bytes and keep their own position.
HRESULT CreateMemoryStream(const void* initial, std::size_t size, IStream** stream);
// Every byte of any stream, read from its start; the stream's position is
// put back afterwards.
HRESULT ReadWholeStream(IStream* stream, std::string* bytes);

}  // namespace reel
