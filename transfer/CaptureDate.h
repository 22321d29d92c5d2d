// The moment a picture or video was taken, as the camera recorded it in the file: what "Date of Photo" means
// to a user whose pictures were copied to the disk before, where the file's own time is the day of the copy.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace transfer {

// When the file at `path` was taken: the EXIF DateTimeOriginal of a JPEG, HEIC or RAW picture, or the
// QuickTime creation time of an MP4 or MOV video. No value when the file records none, or can't be read or
// understood. Only the day of the result is meant to be used: the EXIF time is the camera's local clock,
// given back as that day's local noon, so that no change to or from summer time moves it to another day.
std::optional<time_t> CaptureTime(const std::string& path);

}  // namespace transfer
