#include "convert/convert_raw_to_avi.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/vol_header.h"
#include "platform/atomic_file_writer.h"
#include "platform/avi_writer.h"
#include "platform/riff_writer.h"
#include "reader/mp4_reader.h"

namespace {

using platform::AVIIF_KEYFRAME;

// The frame buffer starts at a picture's uncompressed size, but never above this: it grows
// for any larger record, and a damaged trailer must not make us allocate gigabytes up front.
constexpr size_t kInitialFrameBufferLimit = size_t{1} << 20;

bool HasMarkAt(const std::vector<uint8_t>& buffer, size_t count, size_t at) {
  return count >= at + sizeof(MP4_GOV_START_CODE) &&
         std::memcmp(buffer.data() + at, MP4_GOV_START_CODE, sizeof(MP4_GOV_START_CODE)) == 0;
}

// Whether a delivered record is an I-frame, by the reader's own test.
bool IsKeyFrame(uint32_t dwDataType, const std::vector<uint8_t>& buffer, size_t count) {
  if (dwDataType == MP4_DATA_TAG_VIDEO) return HasMarkAt(buffer, count, MP4_TAG_IFRAME_MARK_OFFSET);
  return HasMarkAt(buffer, count, MP4_UD_HEADERS_SIZE + MP4_UD_IFRAME_MARK_OFFSET);
}

bool SameFile(const char* a, const char* b) {
  struct stat sa {
  }, sb{};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The stream header and format of the recording's picture, in 32-bit arithmetic.
platform::AviStreamInfo StreamInfo(uint32_t width, uint32_t height, uint32_t rate) {
  platform::AviStreamInfo info{};
  info.fccType = platform::MakeFourCc("vids");
  info.fccHandler = platform::MakeFourCc("DX50");
  info.dwScale = 1001;
  info.dwRate = rate * 1001;
  info.dwSuggestedBufferSize = width * height * 3;
  // The file keeps the frame rectangle in 16 signed bits.
  info.rcFrame = {0, 0, static_cast<int32_t>(std::min<uint32_t>(width, INT16_MAX)),
                  static_cast<int32_t>(std::min<uint32_t>(height, INT16_MAX))};
  return info;
}

platform::BitmapInfoHeader Format(uint32_t width, uint32_t height) {
  platform::BitmapInfoHeader format{};
  format.SetSize(sizeof(platform::BitmapInfoHeader));
  format.SetWidth(static_cast<int32_t>(width));
  format.SetHeight(static_cast<int32_t>(height));
  format.SetPlanes(1);
  format.SetBitCount(24);
  format.SetCompression(platform::MakeFourCc("DX50"));
  format.SetSizeImage(width * height * 3);
  return format;
}

int Fail(std::string* pWhy, std::string why) {
  if (pWhy) *pWhy = std::move(why);
  return -1;
}

}  // namespace

int ConvertRawToAvi(const char* pszAviFile, const char* pszRawFile, const ConvertOptions& options,
                    std::string* pWhy) {
  std::string why;
  std::unique_ptr<CMP4File> reader = CMP4File::Open(pszRawFile, &why);
  if (!reader) return Fail(pWhy, why);
  // Linux has no share modes to keep the output off the recording: compare the files.
  if (SameFile(pszAviFile, pszRawFile)) {
    return Fail(pWhy, std::string(pszAviFile) + ": is the recording itself");
  }

  const MP4FILEINFO& info = reader->Info();
  const uint32_t width = info.Width();
  const uint32_t height = info.Height();
  const uint32_t rate = info.FrameRate();
  const uint16_t code = reader->Header().VideoSize();
  const std::optional<VolHeader> volHeader = VolHeaderForRecording(code, rate, width, height);
  if (!volHeader) {
    return Fail(pWhy, std::string(pszRawFile) + ": unknown picture-size code " +
                          std::to_string(code) + " and no usable picture size (" +
                          std::to_string(width) + " x " + std::to_string(height) + ")");
  }

  try {
    std::vector<uint8_t> frame;
    frame.reserve(std::min<uint64_t>(uint64_t{width} * height * 3, kInitialFrameBufferLimit));
    frame.assign(volHeader->begin(), volHeader->end());

    platform::AtomicFileWriter::RemoveStaleTemporaries(pszAviFile);
    platform::AviWriterOptions aviOptions;
    aviOptions.riffSizeThreshold = options.riffSizeThreshold;
    platform::AviWriter avi(
        std::make_unique<platform::AtomicFileWriter>(pszAviFile, options.replaceExisting),
        StreamInfo(width, height, rate), Format(width, height), aviOptions);

    const auto cancelled = [&] { return options.cancel && options.cancel->load(); };
    const auto progress = [&] {
      if (options.onProgress) options.onProgress(reader->FilePosition(), reader->FileLength());
    };
    uint32_t position = 1;
    const auto write = [&](uint32_t flags, size_t count) {
      try {
        avi.WriteSample(position++, frame.data(), count, flags);
      } catch (const platform::WriteError& e) {
        if (options.onWriteError) options.onWriteError(kStreamWriteErrorMessage, e.what());
        throw;
      }
    };

    // The first sample: the VOL header, with the first I-frame read in right behind it.
    uint32_t dwDataType = MP4_DATA_NONE;
    const uint32_t dwFirst =
        reader->GetNextIFrame(FrameDest::Growable(frame, VOL_HEADER_SIZE), &dwDataType);
    progress();
    write(dwDataType == MP4_DATA_NONE ? 0 : AVIIF_KEYFRAME, VOL_HEADER_SIZE + size_t{dwFirst});

    for (;;) {
      if (cancelled()) return Fail(pWhy, std::string(pszAviFile) + ": conversion cancelled");
      // Auxiliary records are dropped, so their data is not even read.
      const uint32_t dwCount =
          reader->GetNextFrame(FrameDest::Growable(frame, 0).WithoutAuxData(), &dwDataType);
      progress();
      if (dwDataType == MP4_DATA_NONE) break;
      if (dwDataType == MP4_DATA_UD_AUX || dwCount == 0) continue;
      write(IsKeyFrame(dwDataType, frame, dwCount) ? AVIIF_KEYFRAME : 0, dwCount);
    }
    reader.reset();  // the recording is closed before the file is completed
    avi.Finish();
    return 0;
  } catch (const std::bad_alloc&) {
    return Fail(pWhy, std::string(pszRawFile) + ": out of memory");
  } catch (const std::exception& e) {
    return Fail(pWhy, e.what());
  }
}
