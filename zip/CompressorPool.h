// Compresses the members of one archive on several threads and hands them to its ZipWriter, which puts them
// into the archive in the order they were submitted. A member is compressed block by block (Deflate.h), each
// block on whichever worker is free, so a large picture uses every core too; the blocks are the ones the
// writer itself would make, so the archive is byte for byte the one that calling ZipWriter::AddOpenFile for
// each member in turn would have written, whatever the number of workers.
//
// Threads. The pool starts its workers, which only compress blocks into memory. Everything else happens on
// the thread that made the pool, the submitter's: Submit, Finish and the destructor are called there; the
// members are written into the archive there (inside Submit and Finish); and the outcome handler is called
// there, once per submitted member, in submission order -- possibly for the member being submitted, before
// Submit returns. Nobody else may use the writer until Finish has returned; then it can be closed.
//
// Memory, flat in the size of the files. At most 2 x workers blocks are handed to the workers and not yet
// written, and their compressed data takes at most kHeldBudget between them, reserved by its deflate bound.
// That data lies in chunks of 1 MiB that are used again and again. Each worker also holds one compressor and
// a piece of its block (1 MiB). Submit waits, writing finished blocks, until every block of the members
// before has been handed to the workers and fewer than 2 x workers members are open. A stored member (an
// archive suffix), anything not a regular file, and a member whose source changed size while it was
// compressed are streamed into the archive by the submitter's thread when their turn comes, through the
// writer's buffers.
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
    static constexpr uint64_t kHeldBudget = uint64_t{32} << 20;

    struct Outcome {
        size_t sequence = 0;  // 0 for the first member submitted, then 1, 2, ...
        // Ok: the member is in the archive. Anything else: as AddOpenFile.
        ZipStatus status = ZipStatus::Ok;
        ZipEntry recorded;  // what the archive holds for the member, when Ok
        SystemError error;  // beside a status other than Ok: the system call that failed, if one did
    };
    // Called on the submitter's thread; it must not call back into the pool.
    using OutcomeHandler = std::function<void(const Outcome&)>;

    // `workers` 0 means std::thread::hardware_concurrency().
    CompressorPool(ZipWriter& writer, OutcomeHandler onOutcome, unsigned workers = 0);
    // Drops what has not been written (the blocks being compressed are finished and thrown away) and stops
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
    struct Block;
    struct Member;

    bool IsPooled(const std::string& name, const platform::File& source, uint64_t* size) const;
    void Work();
    void HandOut();
    bool AllHandedOut() const;
    void WriteFinished(const std::function<bool()>& mustWait);
    ZipStatus WriteBlock(Member& member, Block& block);
    Outcome EndMember(std::unique_lock<std::mutex>& lock, Member& member, ZipStatus status);
    void Release(Block& block);

    ZipWriter& m_writer;
    OutcomeHandler m_onOutcome;
    size_t m_window = 2;  // blocks handed out, and members open, at most
    size_t m_submitted = 0;

    std::mutex m_mutex;                              // guards everything below, and the state of every block
    std::condition_variable m_work;                  // workers wait for blocks to compress
    std::condition_variable m_finished;              // the submitter waits for a block
    std::deque<std::unique_ptr<Member>> m_inFlight;  // in submission order
    std::deque<Block*> m_queue;                      // waiting for a worker, oldest first
    size_t m_handedOut = 0;                          // blocks handed out and not yet written or dropped
    uint64_t m_held = 0;                             // buffer bytes reserved by them
    bool m_stopping = false;
    std::unique_ptr<ChunkStore> m_chunks;  // the memory blocks are compressed into, used again and again
    std::vector<std::thread> m_threads;
};

}  // namespace zip
