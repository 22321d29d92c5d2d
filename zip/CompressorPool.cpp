#include "zip/CompressorPool.h"

#include <fcntl.h>
#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/Sys.h"
#include "zip/Deflate.h"
#include "zip/PooledMember.h"

namespace zip {
namespace {

enum class State {
    Waiting,      // not handed out yet
    Queued,       // waiting for a worker
    Compressing,  // a worker has it
    Done,         // compressed into memory (or failed, or dropped), waiting for its turn
};

// A worker's block ends in a status of its own when the source's size is not the one it had when the member
// was submitted: the member is then streamed by the writer's thread instead.
constexpr ZipStatus kSourceChanged = ZipStatus::SizeMismatch;

// Up to `count` bytes of `fd` from `offset`, fewer only at its end.
platform::Result<size_t> ReadAt(int fd, uint8_t* buffer, size_t count, uint64_t offset) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n =
            platform::Sys().pread(fd, buffer + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? platform::Result<size_t>(platform::Failure::Now("pread")) : got;
        }
        got += static_cast<size_t>(n);
    }
    return got;
}

// A block's compressed data goes into chunks of the store, no more than its reservation allows.
class ChunkSink : public DeflateSink {
  public:
    ChunkSink(std::vector<Chunk>& chunks, size_t& size, ChunkStore& store, uint64_t capacity)
        : m_chunks(chunks), m_size(size), m_store(store), m_capacity(capacity) {}

    std::span<uint8_t> Room() override {
        const size_t used = m_size - (m_chunks.empty() ? 0 : (m_chunks.size() - 1) * kChunkSize);
        if (!m_chunks.empty() && used < kChunkSize) {
            return {m_chunks.back().get() + used, kChunkSize - used};
        }
        if (m_chunks.size() * kChunkSize >= m_capacity) {
            return {};
        }
        Chunk chunk = m_store.Take();
        if (!chunk) {
            return {};
        }
        m_chunks.push_back(std::move(chunk));
        return {m_chunks.back().get(), kChunkSize};
    }
    ZipStatus Filled(size_t count) override {
        m_size += count;
        return ZipStatus::Ok;
    }

  private:
    std::vector<Chunk>& m_chunks;
    size_t& m_size;
    ChunkStore& m_store;
    uint64_t m_capacity;
};

}  // namespace

struct CompressorPool::Block {
    Member* member = nullptr;
    uint64_t index = 0;
    uint64_t reserved = 0;  // buffer bytes of the budget
    State state = State::Waiting;
    ZipStatus status = ZipStatus::Ok;
    std::vector<Chunk> chunks;  // the compressed data, kChunkSize bytes a chunk, the last one filled in part
    size_t size = 0;            // bytes of compressed data in all
    uint32_t crc = 0;
    uint64_t bytesRead = 0;
    SystemError error;  // beside a status other than Ok
};

struct CompressorPool::Member {
    size_t sequence = 0;
    std::string name;
    platform::File source;
    bool streamed = false;  // written by the submitter's thread through AddOpenFile
    bool dropped = false;   // its blocks that are not compressed yet are not compressed at all
    PooledMember pooled;    // described by the worker of its first block
    std::vector<Block> blocks;
    size_t handedOut = 0;  // blocks handed to the workers so far
    size_t written = 0;    // blocks in the archive so far
    uint32_t crc = 0;
    uint64_t bytesRead = 0;
};

namespace {

// Compresses one block of `member`, as Deflate.h lays out: from its offset, primed with the 32 KiB before it,
// fed in pieces from its start; the last block reads to the end of the source.
void Compress(Deflater& deflater, std::vector<uint8_t>& input, const platform::File& source, uint64_t index,
              bool last, ChunkStore& store, uint64_t capacity, std::vector<Chunk>& chunks, size_t& size,
              uint32_t& crc, uint64_t& bytesRead, ZipStatus& status, SystemError& error) {
    const int fd = source.Descriptor();
    const uint64_t start = index * kBlockSize;
    std::vector<uint8_t> dictionary(start == 0 ? 0 : kDictionarySize);
    if (!dictionary.empty()) {
        const auto n = ReadAt(fd, dictionary.data(), dictionary.size(), start - dictionary.size());
        if (!n || *n != dictionary.size()) {
            error = {"read", n.Error().error};
            status = !n ? ZipStatus::WriteFailed : kSourceChanged;
            return;
        }
    }
    // The whole block is asked for at once, so that a card or a disk reads ahead while the pieces are taken.
    platform::Sys().fadvise(fd, static_cast<off_t>(start), last ? 0 : static_cast<off_t>(kBlockSize),
                            POSIX_FADV_WILLNEED);
    ChunkSink sink(chunks, size, store, capacity);
    status = deflater.Begin(dictionary, sink);
    while (status == ZipStatus::Ok) {
        const size_t want = last ? kPieceSize : std::min<uint64_t>(kPieceSize, kBlockSize - bytesRead);
        if (want == 0) {
            break;
        }
        const auto n = ReadAt(fd, input.data(), want, start + bytesRead);
        if (!n) {
            error = {"read", n.Error().error};
            status = ZipStatus::WriteFailed;  // the member cannot be written in full
            break;
        }
        const size_t got = *n;
        if (got > 0) {
            const std::span<const uint8_t> piece(input.data(), got);
            crc = Crc32(crc, piece);
            bytesRead += got;
            status = deflater.Feed(piece);
        }
        if (got < want) {
            status = status == ZipStatus::Ok && !last ? kSourceChanged : status;  // shorter than it was
            break;
        }
    }
    if (status == ZipStatus::Ok) {
        status = deflater.End(last);
    }
    // More than its reservation: the source has grown since, or the compressor made more than its bound.
    status = status == ZipStatus::TooLarge ? kSourceChanged : status;
}

}  // namespace

CompressorPool::CompressorPool(ZipWriter& writer, OutcomeHandler onOutcome, unsigned workers)
    : m_writer(writer), m_onOutcome(std::move(onOutcome)), m_chunks(std::make_unique<ChunkStore>()) {
    if (workers == 0) {
        workers = std::max(1u, std::thread::hardware_concurrency());
    }
    for (unsigned i = 0; i < workers; ++i) {
        try {
            m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break;  // fewer workers; with none, the submitter's thread streams every member itself
        }
    }
    m_window = 2 * std::max<size_t>(1, m_threads.size());
}

CompressorPool::~CompressorPool() {
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
        m_stopping = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

// Whether the workers compress the member (else the submitter's thread streams it), and its size then.
bool CompressorPool::IsPooled(const std::string& name, const platform::File& source, uint64_t* size) const {
    std::string stored = name;
    std::replace(stored.begin(), stored.end(), '\\', '/');
    if (m_threads.empty() || !m_writer.IsOpen() || HasArchiveSuffix(stored)) {
        return false;
    }
    const auto info = source.Info();
    if (!info || !info->IsRegular() || info->size > kMaxMemberSize) {
        return false;  // the writer gives its answer on the submitter's thread
    }
    *size = info->size;
    return true;
}

void CompressorPool::Submit(std::string name, platform::File source) {
    auto member = std::make_unique<Member>();
    member->sequence = m_submitted++;
    member->name = std::move(name);
    member->source = std::move(source);
    uint64_t size = 0;
    member->streamed = !IsPooled(member->name, member->source, &size);
    if (!member->streamed) {
        member->blocks.resize(BlockCount(size));
        for (uint64_t i = 0; i < member->blocks.size(); ++i) {
            Block& block = member->blocks[i];
            block.member = member.get();
            block.index = i;
            block.reserved = DeflatedSizeBound(std::min(kBlockSize, size - std::min(size, i * kBlockSize)));
        }
    }
    WriteFinished([this] { return m_inFlight.size() >= m_window || !AllHandedOut(); });
    {
        std::lock_guard lock(m_mutex);
        m_inFlight.push_back(std::move(member));
        HandOut();
    }
    WriteFinished([] { return false; });
}

void CompressorPool::Finish() {
    WriteFinished([] { return true; });
}

bool CompressorPool::AllHandedOut() const {
    return std::all_of(m_inFlight.begin(), m_inFlight.end(), [](const std::unique_ptr<Member>& m) {
        return m->streamed || m->dropped || m->handedOut == m->blocks.size();
    });
}

// Hands blocks to the workers in submission order while the window and the budget have room (at least one,
// whatever its size). Called with the lock held.
void CompressorPool::HandOut() {
    for (const std::unique_ptr<Member>& member : m_inFlight) {
        while (!member->streamed && !member->dropped && member->handedOut < member->blocks.size()) {
            Block& block = member->blocks[member->handedOut];
            if (m_handedOut > 0 && (m_handedOut >= m_window || m_held + block.reserved > kHeldBudget)) {
                return;
            }
            ++m_handedOut;
            m_held += block.reserved;
            ++member->handedOut;
            block.state = State::Queued;
            m_queue.push_back(&block);
            m_work.notify_one();
        }
    }
}

void CompressorPool::Work() {
    Deflater deflater(m_writer.GetCompression());
    std::vector<uint8_t> input(kPieceSize);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) {
            return;
        }
        Block& block = *m_queue.front();
        m_queue.pop_front();
        block.state = State::Compressing;
        Member& member = *block.member;
        const bool last = block.index + 1 == member.blocks.size();
        lock.unlock();
        // Nobody else touches the block until its state says it is done, nor the member's description
        // until its first block is.
        if (block.index == 0) {
            m_writer.DescribePooled(member.name, member.source, &member.pooled);
        }
        Compress(deflater, input, member.source, block.index, last, *m_chunks, block.reserved, block.chunks,
                 block.size, block.crc, block.bytesRead, block.status, block.error);
        lock.lock();
        block.state = State::Done;
        m_finished.notify_all();
    }
}

// Gives a block's memory and its room in the window back. Called with the lock held.
void CompressorPool::Release(Block& block) {
    m_chunks->Give(block.chunks);
    if (block.state != State::Waiting) {
        --m_handedOut;
        m_held -= block.reserved;
    }
    block.state = State::Done;
    block.reserved = 0;
}

// Writes the members at the front of the line, block by block as each is compressed, and reports each once
// it is written whole. When the next block is not compressed yet, waits for it if `mustWait` (asked with the
// lock held) says so, else returns.
void CompressorPool::WriteFinished(const std::function<bool()>& mustWait) {
    std::unique_lock lock(m_mutex);
    while (!m_inFlight.empty()) {
        Member& member = *m_inFlight.front();
        Outcome outcome;
        bool over = member.streamed;
        if (member.streamed) {
            lock.unlock();
            outcome.sequence = member.sequence;
            outcome.status = m_writer.AddOpenFile(member.name, std::move(member.source), &outcome.recorded);
            outcome.error = m_writer.LastError();
            lock.lock();
        } else {
            Block& block = member.blocks[member.written];
            if (block.state != State::Done) {
                if (!mustWait()) {
                    return;
                }
                m_finished.wait(lock);
                continue;
            }
            lock.unlock();
            const ZipStatus status = WriteBlock(member, block);
            const SystemError error = block.status != ZipStatus::Ok ? block.error : m_writer.LastError();
            lock.lock();
            Release(block);
            ++member.written;
            over = status != ZipStatus::Ok || member.written == member.blocks.size();
            if (over) {
                outcome = EndMember(lock, member, status);
                outcome.error = status != ZipStatus::Ok && status != kSourceChanged ? error : outcome.error;
            }
        }
        if (over) {
            std::unique_ptr<Member> done = std::move(m_inFlight.front());
            m_inFlight.pop_front();
            lock.unlock();
            done.reset();  // its source is closed too before the room counts as free
            if (m_onOutcome) {
                m_onOutcome(outcome);
            }
            lock.lock();
        }
        HandOut();
    }
}

// Puts one compressed block into the archive, after the member's local header when it is the first.
ZipStatus CompressorPool::WriteBlock(Member& member, Block& block) {
    if (block.index == 0) {
        const ZipStatus begun = m_writer.BeginPooled(member.pooled);
        if (begun != ZipStatus::Ok) {
            return begun;
        }
    }
    ZipStatus status = block.status;
    for (size_t i = 0; status == ZipStatus::Ok && i < block.chunks.size(); ++i) {
        const size_t offset = i * kChunkSize;
        status = m_writer.AppendPooled({block.chunks[i].get(), std::min(kChunkSize, block.size - offset)});
    }
    member.crc = Crc32Combine(member.crc, block.crc, block.bytesRead);
    member.bytesRead += block.bytesRead;
    if (status != ZipStatus::Ok) {
        m_writer.CutPooled(member.pooled);
    }
    return status;
}

// Ends the member at the front: records it when all its blocks are in, else drops its other blocks and, when
// its source changed size meanwhile, streams it instead. Called with the lock held; gives the outcome.
CompressorPool::Outcome CompressorPool::EndMember(std::unique_lock<std::mutex>& lock, Member& member,
                                                  ZipStatus status) {
    Outcome outcome;
    outcome.sequence = member.sequence;
    if (status == ZipStatus::Ok) {
        lock.unlock();
        outcome.status = m_writer.EndPooled(member.pooled, member.crc, member.bytesRead, &outcome.recorded);
        outcome.error = m_writer.LastError();
        lock.lock();
        return outcome;
    }
    member.dropped = true;
    std::erase_if(m_queue, [&](Block* block) { return block->member == &member; });
    m_finished.wait(lock, [&] {
        return std::none_of(member.blocks.begin(), member.blocks.end(),
                            [](const Block& block) { return block.state == State::Compressing; });
    });
    for (size_t i = member.written; i < member.blocks.size(); ++i) {
        Release(member.blocks[i]);
    }
    lock.unlock();
    outcome.status = status == kSourceChanged
                         ? m_writer.AddOpenFile(member.name, std::move(member.source), &outcome.recorded)
                         : (status == ZipStatus::CompressorFailed ? ZipStatus::WriteFailed : status);
    outcome.error = status == kSourceChanged ? m_writer.LastError() : SystemError{};
    lock.lock();
    return outcome;
}

}  // namespace zip
