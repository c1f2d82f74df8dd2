// Splits an MPEG-4 Visual elementary stream, as ffmpeg's m4v muxer writes it, into the frames
// a recording stores one per video record.
#pragma once

#include <vector>

#include "tools/recording/recording_builder.h"

namespace recording {

// A frame starts at a group-of-VOP start code or at a VOP start code not preceded by its GOV,
// and runs up to the next frame. The configuration headers before the first frame are dropped:
// the AVI writer supplies its own. Throws std::runtime_error for a stream without frames, with
// configuration headers after its first frame, or with an intra-coded VOP not preceded by a
// GOV (the reader finds I-frames by their GOV).
std::vector<Bytes> SplitElementaryStream(const Bytes& stream);

}  // namespace recording
