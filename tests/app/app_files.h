// The files the batch driver and command-line tests make and look at.
#pragma once

#include <string>

namespace testing_support {

// A tagged recording of `frames` synthetic frames, an I-frame every fourth, at the builder's
// default picture (size code 5, 176 x 144, 25 frames per second).
void WriteRecording(const std::string& path, int frames = 8);

// Whether `path` is a regular file that starts as an AVI file does.
bool IsAvi(const std::string& path);

}  // namespace testing_support
