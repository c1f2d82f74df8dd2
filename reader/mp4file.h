/*
 * mp4file.h - read raw MPEG-4 recordings of network video devices.
 *
 * A raw recording is a 64-byte file header, a run of records in one of two layouts (tagged,
 * or MPEG-4 user data) and a 56-byte info trailer. This interface opens a recording, hands
 * out its header and info record, and delivers its frames one by one.
 *
 * Handles: MP4FileOpen returns an opaque handle, passed first to every other function and
 * released by MP4FileClose. Null is the only invalid handle the functions recognise: with a
 * null handle every function returns 0 and writes nothing. Passing a closed handle is
 * undefined.
 *
 * Threading: a handle is used by one thread at a time. Different handles are independent.
 * While MP4FileSetCurrentPos runs, MP4FileGetNextFrame and MP4FileGetNextIFrame on another
 * thread pause at their next record header.
 *
 * Buffers: no function takes a buffer size. The caller's buffer must hold the largest record
 * it can be handed: dwLength bytes for MP4_DATA_TAG_VIDEO, dwLength + 12 for
 * MP4_DATA_UD_VIDEO, dwAuxLength for MP4_DATA_UD_AUX. MP4FileGetNextIFrame may also write
 * the first bytes of the records it passes over (up to 79 bytes).
 *
 * Exclusivity: an open recording is held with an exclusive lock (flock); a second
 * MP4FileOpen of the same file, from this or another process, fails until it is closed.
 * The file is only ever read.
 */
#ifndef MP4FILE_H
#define MP4FILE_H

#include <stdint.h>

#if defined(MP4FILE_BUILDING)
#define MP4FILE_API __attribute__((visibility("default")))
#else
#define MP4FILE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the frame-reading functions (dwDataType). */
enum {
  MP4_DATA_TAG_VIDEO = 1, /* tagged video payload: 16-byte frame header, then MPEG-4 data */
  MP4_DATA_UD_VIDEO = 2,  /* user-data record: 8-byte record, 36-byte frame header, data */
  MP4_DATA_UD_AUX = 3,    /* auxiliary data only */
  MP4_DATA_NONE = 9       /* end of the data, or any failure; byte count 0 */
};

/* Record layouts (header dwLayout). */
enum { MP4_LAYOUT_TAGGED = 17, MP4_LAYOUT_USERDATA = 34 };

/* The file header handed out by MP4FileGetHeader: 64 bytes as stored. */
#define MP4_HEADER_SIZE 64
#define MP4_HEADER_LAYOUT_OFFSET 4      /* uint32 LE: record layout */
#define MP4_HEADER_VIDEO_SIZE_OFFSET 36 /* uint16 LE: picture-size code 0-5 */

/* The info record handed out by MP4FileGetInfo: 52 bytes, all uint32 LE fields. */
#define MP4_INFO_SIZE 52
#define MP4_INFO_MAGIC_OFFSET 0
#define MP4_INFO_MAGIC2_OFFSET 4
#define MP4_INFO_START_TIME_OFFSET 8 /* time of the first I-frame, scanned at open; 0 if none */
#define MP4_INFO_END_TIME_OFFSET 12  /* time of the last I-frame, scanned at open; 0 if none */
#define MP4_INFO_FRAME_RATE_OFFSET 24
#define MP4_INFO_WIDTH_OFFSET 28
#define MP4_INFO_HEIGHT_OFFSET 32

/*
 * Opens the recording at pszFileName (a NUL-terminated path) for reading. Returns a handle,
 * or null when the file is missing, not readable, not a regular file, held open by another
 * reader, shorter than 64 bytes, or without the trailer's two magic values. The header's
 * layout is not checked: a recording of an unknown layout opens and delivers no frames.
 * At open the times of the first and last I-frame are scanned into the info record.
 */
MP4FILE_API void* MP4FileOpen(const char* pszFileName);

/* Closes the recording and releases the handle. Returns 1, or 0 for a null handle. */
MP4FILE_API uint32_t MP4FileClose(void* hMP4);

/* Copies the 64 header bytes to pHeader. Returns 1, or 0 for a null handle. */
MP4FILE_API uint32_t MP4FileGetHeader(void* hMP4, void* pHeader);

/* Copies the 52-byte info record to pInfo. Returns 1, or 0 for a null handle. */
MP4FILE_API uint32_t MP4FileGetInfo(void* hMP4, void* pInfo);

/*
 * Writes the position pair: the number of I-frames delivered (the first I-frame of a
 * recording is number 1) and the number of other video frames delivered since. Returns 1,
 * or 0 for a null handle.
 */
MP4FILE_API uint32_t MP4FileGetCurrentPos(void* hMP4, uint32_t* pdwIFrameNo, uint32_t* pdwFrameNo);

/*
 * Delivers the next video frame, or auxiliary record, into pBuffer and its byte count through
 * pdwLength. Returns its MP4_DATA_* type, MP4_DATA_NONE (count 0) at the end of the data or
 * on a damaged record, or 0 for a null handle (nothing written). An I-frame advances the
 * I-frame number and resets the frame number; another video frame advances the frame number.
 */
MP4FILE_API uint32_t MP4FileGetNextFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength);

/*
 * Passes over everything up to the next I-frame and delivers it as MP4FileGetNextFrame does.
 * Never delivers MP4_DATA_UD_AUX.
 */
MP4FILE_API uint32_t MP4FileGetNextIFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength);

/*
 * Random access. The video records fall into groups: group k (k >= 1) is the k-th I-frame and
 * the video records up to the next one; group 0 holds the video records before the first
 * I-frame. A group's anchor is its first video record. Auxiliary and other records belong to
 * no group and are never counted.
 *
 * MP4FileSetCurrentPos(h, a, b) moves the reading position and returns 1, or 0 on failure:
 *   (0, 0)  back to the first record, pair (0, 0); works for any recording.
 *   (a, 0)  onto the anchor of group a, pair (a - 1, 0): the next frame read is that anchor,
 *           which then gets the pair (a, 0) as sequential reading would give it.
 *   (a, b)  right behind the b-th video record counted from the anchor of group a, the anchor
 *           being the first (the count runs on across groups, I-frames included); pair (a, b).
 * On failure (no group a, fewer than b records after its anchor, unknown layout) reading
 * delivers no further frame until a repositioning succeeds; (0, 0) always does. The pair is
 * unchanged, except that when group a exists but the count b fails the I-frame number is a.
 * Works for recordings of any size; the first call learns where the records lie, later ones
 * jump there.
 */
MP4FILE_API uint32_t MP4FileSetCurrentPos(void* hMP4, uint32_t dwIFrameNo, uint32_t dwFrameNo);

/*
 * From the pair (k, x), k >= 1, delivers the anchor of group k - 1 (the (k-1)-th I-frame, or
 * for k = 1 the first video record when the recording does not begin with an I-frame) with
 * its MP4_DATA_TAG_VIDEO or MP4_DATA_UD_VIDEO type; the pair becomes (k - 1, 0) and reading
 * goes on right behind it. Returns MP4_DATA_NONE (count 0, pair unchanged) when k is 0, when
 * that group is empty, or on a damaged record. Records of any size are delivered whole.
 */
MP4FILE_API uint32_t MP4FileGetPrevIFrame(void* hMP4, void* pBuffer, uint32_t* pdwLength);

/*
 * Delivers the I-frame of group dwIFrameNo (0 and 1 both give the first I-frame), or
 * MP4_DATA_NONE with count 0 when there is none. Afterwards, in both cases, the reader stands
 * at the start of the group that was current on entry, as after
 * MP4FileSetCurrentPos(h, s, 0) with s the I-frame number on entry: the next frame read is
 * that group's I-frame again (for s = 0 the recording starts over).
 */
MP4FILE_API uint32_t MP4FileGetOneFrame(void* hMP4, uint32_t dwIFrameNo, void* pBuffer,
                                        uint32_t* pdwLength);

#ifdef __cplusplus
}
#endif

#endif /* MP4FILE_H */
