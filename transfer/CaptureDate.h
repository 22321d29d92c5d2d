// The moment a picture or video was taken, as the camera recorded it in the file: what "Date of Photo" means
// to a user whose pictures were copied to the disk before, where the file's own time is the day of the copy.
#pragma once

#include <atomic>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace transfer {

// When the file at `path` was taken: the EXIF DateTimeOriginal of a JPEG, HEIC or RAW picture, or the
// QuickTime creation time of an MP4 or MOV video. No value when the file records none, or can't be read or
// understood. Only the day of the result is meant to be used: the EXIF time is the camera's local clock,
// given back as that day's local noon, so that no change to or from summer time moves it to another day.
std::optional<time_t> CaptureTime(const std::string& path);

// The capture times of a pass's files, read ahead of their use on a thread of its own: reading a picture's
// metadata costs about as much as moving it within one file system, and the two then overlap. Each entry of
// `groups` holds the paths of files that travel together; its time is the first that any of them records.
class CaptureTimesAhead {
  public:
    explicit CaptureTimesAhead(std::vector<std::vector<std::string>> groups);
    // Stops reading after the file in hand, and waits for that.
    ~CaptureTimesAhead();
    CaptureTimesAhead(const CaptureTimesAhead&) = delete;
    CaptureTimesAhead& operator=(const CaptureTimesAhead&) = delete;

    // The capture time of group `index`, once it has been read.
    std::optional<time_t> Get(size_t index);

  private:
    void ReadAll();

    std::vector<std::vector<std::string>> m_groups;
    std::vector<std::optional<time_t>> m_times;
    std::atomic<size_t> m_read{0};  // the groups before this one are in m_times
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

}  // namespace transfer
