// The MPEG-4 Visual configuration header that opens the first sample of every AVI we write:
// video object start code, video object layer start code and a VOL header describing the
// recording's picture size and frame rate (no visual object sequence header).
//
// The devices record at six picture sizes, so the headers come from a table with one entry per
// picture-size code (0-5) and frame rate (1-30), generated at compile time. Recordings whose
// values fall outside the table get a header built by the same rule (VolHeaderForRecording).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t VOL_HEADER_SIZE = 21;
constexpr int VOL_HEADER_CODES = 6;   // picture-size codes 0-5
constexpr int VOL_HEADER_RATES = 30;  // frame rates 1-30
constexpr int VOL_HEADER_COUNT = VOL_HEADER_CODES * VOL_HEADER_RATES;

using VolHeader = std::array<uint8_t, VOL_HEADER_SIZE>;

// The picture a size code stands for, and the highest frame rate its headers declare
// (30 for the 60 Hz sizes, 25 for the 50 Hz ones).
struct PictureSize {
  uint32_t width;
  uint32_t height;
  uint32_t rateCeiling;
};

// The picture of size code 0-5; nullopt for any other code.
std::optional<PictureSize> PictureSizeOfCode(uint16_t code);

// The frame rate a header declares for `rate`: raised to at least 5 and capped at the code's
// rate ceiling (30 for codes outside 0-5). The header's time resolution is 1000 times this
// rate, and an encoder must count time in the same units for its frames to fit the header.
uint32_t VolFrameRate(uint16_t code, uint32_t rate);

// Entry code * 30 + (rate - 1) holds the header for size code `code` at frame rate `rate`.
extern const std::array<VolHeader, VOL_HEADER_COUNT> g_byVolHeaderTable;

// The table entry for `code` (0-5) and `rate` (1-30). The caller guarantees the range.
const uint8_t* GetVolHeader(int16_t code, int16_t rate);

// The header to write for a recording with the header's size code `code` and the trailer's
// frame rate, width and height:
//  - code 0-5: the table entry for the code at VolFrameRate(code, rate), so any rate,
//    including 0 and rates above 30, maps to an entry;
//  - any other code: a header built by the table's rule for infoWidth x infoHeight (rate
//    ceiling 30), when both are non-zero and below 8192 (the header's 13-bit fields);
//  - otherwise nullopt: no header describes the recording, and the caller refuses it.
std::optional<VolHeader> VolHeaderForRecording(uint16_t code, uint32_t rate, uint32_t infoWidth,
                                               uint32_t infoHeight);
