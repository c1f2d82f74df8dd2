// The C interface: thin wrappers over CMP4File. No exception crosses it.
#include "reader/mp4file.h"

#include <cstring>

#include "reader/mp4_reader.h"

static_assert(MP4_HEADER_SIZE == sizeof(MP4FILEHEADER));
static_assert(MP4_INFO_SIZE == MP4_INFO_RECORD_SIZE);

namespace {

CMP4File* Reader(void* hMP4) { return static_cast<CMP4File*>(hMP4); }

// The frame readers' common shell: null handle -> 0, nothing written.
template <typename Read>
uint32_t DeliverFrame(void* hMP4, uint32_t* pdwLength, Read read) {
  if (hMP4 == nullptr) return 0;
  uint32_t dwDataType = MP4_DATA_NONE;
  const uint32_t dwCount = read(Reader(hMP4), &dwDataType);
  *pdwLength = dwCount;
  return dwDataType;
}

}  // namespace

extern "C" {

void* MP4FileOpen(const char* pszFileName) {
  if (pszFileName == nullptr) return nullptr;
  try {
    return CMP4File::Open(pszFileName).release();
  } catch (...) {
    return nullptr;
  }
}

uint32_t MP4FileClose(void* hMP4) {
  if (hMP4 == nullptr) return 0;
  std::unique_ptr<CMP4File> closing(Reader(hMP4));
  return 1;
}

uint32_t MP4FileGetHeader(void* hMP4, void* pHeader) {
  if (hMP4 == nullptr) return 0;
  std::memcpy(pHeader, &Reader(hMP4)->Header(), sizeof(MP4FILEHEADER));
  return 1;
}

uint32_t MP4FileGetInfo(void* hMP4, void* pInfo) {
  if (hMP4 == nullptr) return 0;
  const auto* trailer = reinterpret_cast<const uint8_t*>(&Reader(hMP4)->Info());
  std::memcpy(pInfo, trailer + MP4_INFO_RECORD_OFFSET, MP4_INFO_RECORD_SIZE);
  return 1;
}

uint32_t MP4FileGetCurrentPos(void* hMP4, uint32_t* pdwIFrameNo, uint32_t* pdwFrameNo) {
  if (hMP4 == nullptr) return 0;
  *pdwIFrameNo = Reader(hMP4)->IFrameNo();
  *pdwFrameNo = Reader(hMP4)->FrameNo();
  return 1;
}

uint32_t MP4FileGetNextFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength) {
  return DeliverFrame(hMP4, pdwLength, [&](CMP4File* reader, uint32_t* pdwDataType) {
    return reader->GetNextFrame(FrameDest::Unbounded(pBuffer), pdwDataType);
  });
}

uint32_t MP4FileGetNextIFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength) {
  return DeliverFrame(hMP4, pdwLength, [&](CMP4File* reader, uint32_t* pdwDataType) {
    return reader->GetNextIFrame(FrameDest::Unbounded(pBuffer), pdwDataType);
  });
}

uint32_t MP4FileSetCurrentPos(void* hMP4, uint32_t dwIFrameNo, uint32_t dwFrameNo) {
  if (hMP4 == nullptr) return 0;
  return Reader(hMP4)->SetCurrentPos(dwIFrameNo, dwFrameNo);
}

uint32_t MP4FileGetPrevIFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength) {
  return DeliverFrame(hMP4, pdwLength, [&](CMP4File* reader, uint32_t* pdwDataType) {
    return reader->GetPrevIFrame(FrameDest::Unbounded(pBuffer), pdwDataType);
  });
}

uint32_t MP4FileGetOneFrame(void* hMP4, uint32_t dwIFrameNo, void* pBuffer, uint32_t* pdwLength) {
  return DeliverFrame(hMP4, pdwLength, [&](CMP4File* reader, uint32_t* pdwDataType) {
    return reader->GetOneFrame(dwIFrameNo, FrameDest::Unbounded(pBuffer), pdwDataType);
  });
}

}  // extern "C"
