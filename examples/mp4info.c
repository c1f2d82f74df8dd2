/*
 * mp4info: prints a raw recording's header, info record and a summary of its frames,
 * using nothing but the installed mp4file interface.
 *
 *   mp4info RECORDING
 */
#include <mp4file.h>
#include <stdio.h>
#include <stdlib.h>

static uint32_t Le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s RECORDING\n", argv[0]);
    return 2;
  }
  void* rec = MP4FileOpen(argv[1]);
  if (rec == NULL) {
    fprintf(stderr, "%s: cannot open as a raw recording\n", argv[1]);
    return 1;
  }

  unsigned char header[MP4_HEADER_SIZE];
  unsigned char info[MP4_INFO_SIZE];
  MP4FileGetHeader(rec, header);
  MP4FileGetInfo(rec, info);
  const uint32_t layout = Le32(header + MP4_HEADER_LAYOUT_OFFSET);
  printf("layout:       %u (%s)\n", layout,
         layout == MP4_LAYOUT_TAGGED     ? "tagged"
         : layout == MP4_LAYOUT_USERDATA ? "user data"
                                         : "unknown");
  printf("size code:    %u\n",
         (unsigned)(header[MP4_HEADER_VIDEO_SIZE_OFFSET] |
                    header[MP4_HEADER_VIDEO_SIZE_OFFSET + 1] << 8));
  printf("picture:      %u x %u at %u fps\n", Le32(info + MP4_INFO_WIDTH_OFFSET),
         Le32(info + MP4_INFO_HEIGHT_OFFSET), Le32(info + MP4_INFO_FRAME_RATE_OFFSET));
  printf("I-frame time: first %u, last %u\n", Le32(info + MP4_INFO_START_TIME_OFFSET),
         Le32(info + MP4_INFO_END_TIME_OFFSET));

  /* The interface carries no buffer size: this buffer must hold the largest record. */
  enum { kBufferSize = 16 << 20 };
  unsigned char* buffer = malloc(kBufferSize);
  if (buffer == NULL) return 1;
  unsigned long frames = 0, aux = 0;
  unsigned long long bytes = 0;
  uint32_t length = 0, type = 0, iframe = 0, frame = 0;
  while ((type = MP4FileGetNextFrame(rec, buffer, &length)) != MP4_DATA_NONE) {
    if (type == MP4_DATA_UD_AUX) {
      ++aux;
      continue;
    }
    ++frames;
    bytes += length;
  }
  MP4FileGetCurrentPos(rec, &iframe, &frame);
  printf("frames:       %lu video (%llu bytes), %lu aux\n", frames, bytes, aux);
  printf("I-frames:     %u; last position (%u, %u)\n", iframe, iframe, frame);

  /* Random access: jump onto the last group, step back one group, fetch the first I-frame. */
  if (iframe > 0 && MP4FileSetCurrentPos(rec, iframe, 0)) {
    type = MP4FileGetNextFrame(rec, buffer, &length);
    MP4FileGetCurrentPos(rec, &iframe, &frame);
    printf("seek:         I-frame %u is %u bytes\n", iframe, length);
    if (MP4FileGetPrevIFrame(rec, buffer, &length) != MP4_DATA_NONE) {
      MP4FileGetCurrentPos(rec, &iframe, &frame);
      printf("previous:     group %u starts with %u bytes\n", iframe, length);
    }
    if (MP4FileGetOneFrame(rec, 1, buffer, &length) != MP4_DATA_NONE) {
      printf("first:        I-frame 1 is %u bytes\n", length);
    }
  }

  free(buffer);
  MP4FileClose(rec);
  return 0;
}
