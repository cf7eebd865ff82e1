// How multiplexers hand their bytes to a file sink. A byte-stream pin
// carries MEDIATYPE_Stream; every sample is a run of bytes whose start time
// is the byte offset of its first byte in the file and whose stop time is
// the offset just past its last byte. A multiplexer seeks back (to patch a
// header or write an index) simply by sending a sample with an earlier
// offset, so the sink writes each sample where its times say.
#pragma once

#include <cerrno>

#include "platform/com/HResult.h"
#include "platform/com/OleInterfaces.h"
#include "platform/dshow/DShowTypes.h"

namespace reel {

// The largest sample a multiplexer sends down a byte-stream pin.
constexpr long kByteStreamChunk = 256 * 1024;

// An HRESULT for a failed file operation, from its errno value.
inline HRESULT FileErrorResult(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return HRESULT_FROM_WIN32(3);  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return E_ACCESSDENIED;
    case ENOSPC:
      return STG_E_MEDIUMFULL;
    default:
      return STG_E_WRITEFAULT;
  }
}

}  // namespace reel
