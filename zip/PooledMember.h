// What the pool and the writer share about a member compressed on the pool's workers; nothing outside the ZIP
// library uses it.
#pragma once

#include <sys/mman.h>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "zip/ZipFormat.h"
#include "zip/ZipWriter.h"

namespace zip {

// Mapped for the pool alone, so that the memory goes back to the system with the pool rather than staying
// with the allocator.
inline constexpr size_t kChunkSize = size_t{1} << 20;
struct Unmap {
    void operator()(uint8_t* data) const { ::munmap(data, kChunkSize); }
};
using Chunk = std::unique_ptr<uint8_t, Unmap>;

// Fixed-size pieces of memory that blocks are compressed into, handed out again and again: each is
// paged in once, and the one taken next is the one given back last, still warm in the caches. Fresh memory
// for every member costs as much again as the copying it holds. Safe to use from several threads.
class ChunkStore {
  public:
    // A chunk of kChunkSize bytes; nullptr when there is no memory.
    Chunk Take() {
        std::lock_guard lock(m_mutex);
        if (m_free.empty()) {
            // Paged in at once: one call instead of a fault for every page.
            void* data = ::mmap(nullptr, kChunkSize, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            return Chunk(data == MAP_FAILED ? nullptr : static_cast<uint8_t*>(data));
        }
        Chunk chunk = std::move(m_free.back());
        m_free.pop_back();
        return chunk;
    }

    void Give(std::vector<Chunk>& chunks) {
        std::lock_guard lock(m_mutex);
        for (Chunk& chunk : chunks) {
            if (chunk) {
                m_free.push_back(std::move(chunk));
            }
        }
        chunks.clear();
    }

  private:
    std::mutex m_mutex;
    std::vector<Chunk> m_free;
};

// A member the pool compresses, as the writer knows it: described on a worker (DescribePooled), then put
// into the archive by the writer's thread, block after block (BeginPooled, AppendPooled, EndPooled).
struct PooledMember {
    ZipEntry entry;
    SourceInfo info;
    ZipStatus openStatus = ZipStatus::Ok;  // the source could not be opened or examined: nothing to write
    SystemError openError;                 // and why
    uint64_t start = 0;                    // where its local header went
};

// The most bytes raw deflate can make of `size` bytes (the zlib-wrapped bound, a little above the raw one).
uint64_t DeflatedSizeBound(uint64_t size);

}  // namespace zip
