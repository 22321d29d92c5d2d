// Compresses the members of one archive on several threads and hands them to its ZipWriter, which puts them
// into the archive in the order they were submitted. Each member is one raw deflate stream at level 8 made by
// the same zlib calls as the writer's own, so the archive is byte for byte the one that calling
// ZipWriter::AddOpenFile for each member in turn would have written.
//
// Threads. The pool starts its workers, which only compress members into memory. Everything else happens on
// the thread that made the pool, the submitter's: Submit, Finish and the destructor are called there; the
// members are written into the archive there (inside Submit and Finish); and the outcome handler is called
// there, once per submitted member, in submission order. Nobody else may use the writer until Finish has
// returned; then it can be closed.
//
// Memory, flat in the size of the files. A member is compressed into memory only when its compressed data
// cannot pass the held limit (kMaxHeldMember, 16 MiB, measured by the deflate bound of the file's size). A
// larger member, a stored one (an archive suffix), and one that grows past its buffer while it is read are
// streamed into the archive by the submitter's thread when their turn comes, through the writer's 16 KiB
// buffers. At most 2 x workers members are in flight (submitted and not yet reported, each with its source
// open), and their compressed data takes at most kHeldBudget (64 MiB) between them, reserved by its deflate
// bound: Submit waits, writing finished members, until there is room. That data lies in chunks of 1 MiB that
// are used again and again, so no more than 64 MiB plus one chunk per member in flight are ever allocated.
// Each worker also holds one compressor (about 260 KiB) and a 16 KiB buffer.
//
// Failures. Each member's outcome is the status AddOpenFile would have returned for it, and it leaves the
// archive as AddOpenFile would have: a member that fails adds nothing, and the ones after it go on; once the
// writer holds a latched error, every later member comes back AlreadyFailed.
//
// Usage:
//     zip::CompressorPool pool(writer, [&](const zip::CompressorPool::Outcome& o) { ... });
//     for (...) pool.Submit(path, platform::File::OpenRegularForReading(path));
//     pool.Finish();
//     writer.Close();
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "zip/ZipWriter.h"

namespace zip {

class CompressorPool {
  public:
    static constexpr uint64_t kMaxHeldMember = uint64_t{16} << 20;
    static constexpr uint64_t kHeldBudget = uint64_t{64} << 20;

    struct Outcome {
        size_t sequence = 0;  // 0 for the first member submitted, then 1, 2, ...
        // Ok: the member is in the archive. Anything else: as AddOpenFile.
        ZipStatus status = ZipStatus::Ok;
        ZipEntry recorded;  // what the archive holds for the member, when Ok
    };
    // Called on the submitter's thread; it must not call back into the pool.
    using OutcomeHandler = std::function<void(const Outcome&)>;

    // `workers` 0 means std::thread::hardware_concurrency(). `maxHeldMember` lowers the held limit (tests).
    CompressorPool(ZipWriter& writer, OutcomeHandler onOutcome, unsigned workers = 0,
                   uint64_t maxHeldMember = kMaxHeldMember);
    // Drops what has not been written (the members being compressed are finished and thrown away) and stops
    // the workers; nothing more is written or reported. Call Finish first to have every member written.
    ~CompressorPool();
    CompressorPool(const CompressorPool&) = delete;
    CompressorPool& operator=(const CompressorPool&) = delete;

    // The workers that could be started; with none, every member is compressed by the submitter's thread.
    unsigned Workers() const { return static_cast<unsigned>(m_threads.size()); }

    // Hands over one member: `name` as for AddOpenFile, `source` a file the caller opened (as OpenSource
    // does); the pool closes it. While the pool is full this first writes, and reports, earlier members.
    void Submit(std::string name, platform::File source);

    // Writes and reports every member submitted so far; returns once the last one has been reported.
    void Finish();

  private:
    struct Member;

    uint64_t HeldSize(const std::string& name, const platform::File& source) const;
    void Work();
    void WriteFinished(const std::function<bool()>& mustWait);
    Outcome Write(Member& member);

    ZipWriter& m_writer;
    OutcomeHandler m_onOutcome;
    const uint64_t m_maxHeld;
    size_t m_window = 2;  // members in flight at most
    size_t m_submitted = 0;

    std::mutex m_mutex;                              // guards everything below, and the state of every member
    std::condition_variable m_work;                  // workers wait for members to compress
    std::condition_variable m_finished;              // the submitter waits for the oldest member
    std::deque<std::unique_ptr<Member>> m_inFlight;  // in submission order
    std::deque<Member*> m_queue;                     // waiting for a worker, oldest first
    uint64_t m_held = 0;                             // buffer bytes reserved by members in flight
    bool m_stopping = false;
    std::unique_ptr<ChunkStore>
        m_chunks;  // the memory held members are compressed into, used again and again
    std::vector<std::thread> m_threads;
};

}  // namespace zip
