// The moment a picture or video was taken, as the camera recorded it in the file: what "Date of Photo" means
// to a user whose pictures were copied to the disk before, where the file's own time is the day of the copy.
//
// The files come from a card and are not to be trusted, and the parser of still pictures (Exiv2) can hang,
// abort or allocate without end on a damaged one. So it runs only in a helper program of its own
// (CaptureDateHelper), which the pass talks to through CaptureDateReader, under a time and a memory limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace transfer {

// What reading a file's capture date gave.
enum class CaptureStatus {
    Found,         // `time` holds it
    None,          // the file records none, or it is of a kind whose date is not read
    WrongKind,     // its contents are not the kind of file its extension names; no parser saw them
    Damaged,       // its structure contradicts itself (a part that reaches past the end of the file)
    TimedOut,      // it was not read within the time limit
    ReaderFailed,  // the helper program ended before it answered: it crashed, or ran out of memory
    Unavailable,   // the helper program could not be started
    Cancelled,     // the pass was asked to stop while the date was read
};

struct CaptureRead {
    CaptureStatus status = CaptureStatus::None;
    time_t time = 0;  // when Found
};

// When the file at `path` was taken: the EXIF DateTimeOriginal of a JPEG, TIFF, PNG, WebP, HEIF or RAW
// picture, or the creation time of an MP4 or MOV video's movie header. The file's kind is chosen by its
// extension alone, and its first bytes must say it is of that kind. Only the day of the result is meant to
// be used: the EXIF time is the camera's local clock, given back as that day's local noon, so that no change
// to or from summer time moves it to another day. Runs the parser in this process: for the helper program.
CaptureRead ReadCaptureTime(const std::string& path);

// The same for a file whose whole contents are `data`, with the extension `extension` (".jpg").
CaptureRead CaptureTimeOfBytes(const uint8_t* data, size_t size, std::string_view extension);

// The time limit for one file, and how long the helper program may take to answer beyond it.
inline constexpr int kCaptureTimeLimitSeconds = 5;

}  // namespace transfer
