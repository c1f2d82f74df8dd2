// The raw recording format: a 64-byte file header, records in one of two layouts, and a
// 56-byte info trailer at the end of the file.
//
// Every record is a fixed-layout struct of byte arrays (alignment 1, no padding), so it can be
// read straight from the file; multi-byte fields are little-endian and decoded through the
// accessors, never by reinterpreting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/little_endian.h"
#include "reader/mp4file.h"  // the data types and layouts of the C interface

// Trailer magic values; a file without both is no recording.
constexpr uint32_t MP4_INFO_MAGIC = 0x5E3D9C42;
constexpr uint32_t MP4_INFO_MAGIC2 = 0x01000001;

// Tagged layout: type of a video record (its tag is "ZEVO").
constexpr uint32_t MP4_TAG_TYPE_VIDEO = 0x00010022;
constexpr uint8_t MP4_TAG_VIDEO[4] = {'Z', 'E', 'V', 'O'};

// User-data layout: the start code opening every record, and the record kinds.
constexpr uint8_t MP4_UD_START_CODE[4] = {0x00, 0x00, 0x01, 0xB2};
constexpr uint32_t MP4_UD_KIND_VIDEO = 1;
constexpr uint32_t MP4_UD_KIND_AUX = 2;

// MPEG-4 group-of-VOP start code: its place in a frame marks an I-frame.
constexpr uint8_t MP4_GOV_START_CODE[4] = {0x00, 0x00, 0x01, 0xB3};

// Size of the reader's scratch buffer for records it reads for its own use.
constexpr size_t MP4_SCRATCH_SIZE = 1024000;

// File header, at offset 0.
struct MP4FILEHEADER {
  uint8_t byReserved0[4];
  uint8_t dwLayout[4];
  uint8_t byReserved1[28];
  uint8_t wVideoSize[2];  // picture-size code, 0-5
  uint8_t byReserved2[26];

  uint32_t Layout() const { return platform::LoadLe32(dwLayout); }
  uint16_t VideoSize() const { return platform::LoadLe16(wVideoSize); }
};
static_assert(sizeof(MP4FILEHEADER) == 64);

// Info trailer, the last 56 bytes of the file. Bytes 4-55 are the 52-byte info record.
struct MP4FILEINFO {
  uint8_t byReserved0[4];
  uint8_t dwMagic[4];
  uint8_t dwMagic2[4];
  uint8_t dwStartTime[4];
  uint8_t dwEndTime[4];
  uint8_t byReserved1[8];
  uint8_t dwFrameRate[4];
  uint8_t dwWidth[4];
  uint8_t dwHeight[4];
  uint8_t byReserved2[16];

  uint32_t Magic() const { return platform::LoadLe32(dwMagic); }
  uint32_t Magic2() const { return platform::LoadLe32(dwMagic2); }
  uint32_t StartTime() const { return platform::LoadLe32(dwStartTime); }
  uint32_t EndTime() const { return platform::LoadLe32(dwEndTime); }
  uint32_t FrameRate() const { return platform::LoadLe32(dwFrameRate); }
  uint32_t Width() const { return platform::LoadLe32(dwWidth); }
  uint32_t Height() const { return platform::LoadLe32(dwHeight); }
};
static_assert(sizeof(MP4FILEINFO) == 56);
constexpr size_t MP4_INFO_RECORD_OFFSET = 4;  // the info record starts at trailer byte 4
constexpr size_t MP4_INFO_RECORD_SIZE = 52;

// Tagged layout: record header, followed by dwLength payload bytes.
struct MP4TAGRECORD {
  uint8_t byTag[4];
  uint8_t dwType[4];
  uint8_t dwLength[4];

  uint32_t Type() const { return platform::LoadLe32(dwType); }
  uint32_t Length() const { return platform::LoadLe32(dwLength); }
  bool IsVideo() const {
    return Type() == MP4_TAG_TYPE_VIDEO && std::memcmp(byTag, MP4_TAG_VIDEO, 4) == 0;
  }
};
static_assert(sizeof(MP4TAGRECORD) == 12);

// Tagged layout: the first 16 bytes of a video payload. The frame time is spread over
// bytes 5, 7, 9 and 11, least significant first.
struct MP4TAGFRAMEHEADER {
  uint8_t byData[16];

  static uint32_t TimeOf(const uint8_t* payload) {
    return static_cast<uint32_t>(payload[5]) | (static_cast<uint32_t>(payload[7]) << 8) |
           (static_cast<uint32_t>(payload[9]) << 16) | (static_cast<uint32_t>(payload[11]) << 24);
  }
};
static_assert(sizeof(MP4TAGFRAMEHEADER) == 16);

// User-data layout: the 8 bytes opening every record.
struct MP4UDRECORD {
  uint8_t dwStartCode[4];
  uint8_t dwKind[4];

  uint32_t Kind() const { return platform::LoadLe32(dwKind); }
  bool HasStartCode() const { return std::memcmp(dwStartCode, MP4_UD_START_CODE, 4) == 0; }
  bool IsVideo() const { return HasStartCode() && Kind() == MP4_UD_KIND_VIDEO; }
  bool IsAux() const { return HasStartCode() && Kind() == MP4_UD_KIND_AUX; }
};
static_assert(sizeof(MP4UDRECORD) == 8);

// User-data layout: frame header of a video record. dwLength counts the 32 bytes that follow
// it here plus the frame data.
struct MP4UDFRAMEHEADER {
  uint8_t dwLength[4];
  uint8_t dwTime[4];
  uint8_t byReserved[28];

  uint32_t Length() const { return platform::LoadLe32(dwLength); }
  uint32_t Time() const { return platform::LoadLe32(dwTime); }
};
static_assert(sizeof(MP4UDFRAMEHEADER) == 36);

// Where a delivered frame carries its I-frame mark, and how long it must be to hold it.
constexpr size_t MP4_TAG_IFRAME_MARK_OFFSET = 16;  // payload offset
constexpr size_t MP4_UD_HEADERS_SIZE = sizeof(MP4UDRECORD) + sizeof(MP4UDFRAMEHEADER);  // 44
constexpr size_t MP4_UD_IFRAME_MARK_OFFSET = 31;   // frame-data offset (delivered at 75)
constexpr uint32_t MP4_UD_FRAME_LENGTH_BIAS = 32;  // dwLength minus this is the data size
constexpr size_t MP4_RECORD_AREA_OFFSET = sizeof(MP4FILEHEADER);
