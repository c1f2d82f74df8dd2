// Converting one raw recording into one AVI file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// The message shown when a sample cannot be written.
inline constexpr const char* kStreamWriteErrorMessage = "AVI StreamWrite Error!!";

struct ConvertOptions {
  // Replace an existing file of the output name (the default), or keep it and fail.
  bool replaceExisting = true;
  // Called once, on the converting thread, when a sample cannot be written: with
  // kStreamWriteErrorMessage and the cause. The conversion then stops and fails.
  std::function<void(const std::string& message, const std::string& cause)> onWriteError;
  // Tested before every record: once it holds true the conversion is abandoned and fails.
  const std::atomic<bool>* cancel = nullptr;
  // Called after every record read, with the bytes of the recording consumed so far and its
  // length.
  std::function<void(uint64_t consumed, uint64_t total)> onProgress;
  // Size at which the AVI file goes on in a further RIFF part (tests lower it).
  uint32_t riffSizeThreshold = uint32_t{1} << 30;
};

// Converts the recording `pszRawFile` into the AVI file `pszAviFile`: one MPEG-4 video stream
// "vids"/"DX50" of the recording's picture size and frame rate. The first sample (position 1)
// is the MPEG-4 VOL header followed by the recording's first I-frame; every later video record
// is one sample, key frame when it is an I-frame.
//
// Returns 0 when the whole recording was converted, -1 otherwise, with the reason in `*pWhy`
// when given: the recording cannot be opened or is no recording, the output would be the
// recording itself, no VOL header describes the picture, the output cannot be created
// (or exists and may not be replaced), a sample cannot be written, or the conversion was
// cancelled.
//
// The output appears atomically: it is written to a temporary file beside it and renamed
// when complete; a conversion that fails leaves no file behind and an existing file of the
// output name untouched. The recording is only read, and held exclusively meanwhile.
int ConvertRawToAvi(const char* pszAviFile, const char* pszRawFile,
                    const ConvertOptions& options = {}, std::string* pWhy = nullptr);
