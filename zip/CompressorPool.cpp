#include "zip/CompressorPool.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "zip/HeldMember.h"

namespace zip {
namespace {

enum class State {
    Queued,       // waiting for a worker
    Compressing,  // a worker has it
    Held,         // compressed into memory, waiting for its turn
    Streamed,     // to be streamed into the archive by the submitter's thread when its turn comes
};

}  // namespace

struct CompressorPool::Member {
    size_t sequence = 0;
    std::string name;
    platform::File source;
    uint64_t reserved = 0;  // buffer bytes of the budget; 0 for a member that is streamed
    State state = State::Queued;
    HeldMember held;
};

CompressorPool::CompressorPool(ZipWriter& writer, OutcomeHandler onOutcome, unsigned workers,
                               uint64_t maxHeldMember)
    : m_writer(writer),
      m_onOutcome(std::move(onOutcome)),
      m_maxHeld(std::min(maxHeldMember, kHeldBudget)),
      m_chunks(std::make_unique<ChunkStore>()) {
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

// The buffer a member is compressed into, or 0 when it is to be streamed by the submitter's thread.
uint64_t CompressorPool::HeldSize(const std::string& name, const platform::File& source) const {
    std::string stored = name;
    std::replace(stored.begin(), stored.end(), '\\', '/');
    const auto info =
        m_threads.empty() || !m_writer.IsOpen() || HasArchiveSuffix(stored) ? std::nullopt : source.Info();
    if (!info || !info->IsRegular()) {
        return 0;  // the writer gives its answer on the submitter's thread
    }
    const uint64_t bound = DeflatedSizeBound(info->size);
    return bound <= m_maxHeld ? bound : 0;
}

void CompressorPool::Submit(std::string name, platform::File source) {
    auto member = std::make_unique<Member>();
    member->sequence = m_submitted++;
    member->name = std::move(name);
    member->source = std::move(source);
    member->reserved = HeldSize(member->name, member->source);
    const uint64_t reserved = member->reserved;
    WriteFinished([&] {
        return m_inFlight.size() >= m_window || (!m_inFlight.empty() && m_held + reserved > kHeldBudget);
    });
    {
        std::lock_guard lock(m_mutex);
        if (member->reserved == 0) {
            member->state = State::Streamed;
        } else {
            m_held += member->reserved;
            m_queue.push_back(member.get());
            m_work.notify_one();
        }
        m_inFlight.push_back(std::move(member));
    }
    WriteFinished([] { return false; });
}

void CompressorPool::Finish() {
    WriteFinished([] { return true; });
}

void CompressorPool::Work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) {
            return;
        }
        Member& member = *m_queue.front();
        m_queue.pop_front();
        member.state = State::Compressing;
        lock.unlock();
        // The member stays in m_inFlight, and nobody else touches it until its state says it is compressed.
        HeldMember held = m_writer.Hold(member.name, member.source, member.reserved, *m_chunks);
        lock.lock();
        member.held = std::move(held);
        member.state = member.held.streamed ? State::Streamed : State::Held;
        m_finished.notify_all();
    }
}

// Writes and reports the members at the front of the line whose turn has come, oldest first. When the
// oldest is not compressed yet, waits for it if `mustWait` (asked with the lock held) says so, else returns.
void CompressorPool::WriteFinished(const std::function<bool()>& mustWait) {
    std::unique_lock lock(m_mutex);
    while (!m_inFlight.empty()) {
        const State state = m_inFlight.front()->state;
        if (state == State::Queued || state == State::Compressing) {
            if (!mustWait()) {
                return;
            }
            m_finished.wait(lock);
            continue;
        }
        std::unique_ptr<Member> member = std::move(m_inFlight.front());
        m_inFlight.pop_front();
        lock.unlock();
        const Outcome outcome = Write(*member);
        const uint64_t reserved = member->reserved;
        m_chunks->Give(member->held.chunks);
        member.reset();  // its source is closed too before the room counts as free
        if (m_onOutcome) {
            m_onOutcome(outcome);
        }
        lock.lock();
        m_held -= reserved;
    }
}

CompressorPool::Outcome CompressorPool::Write(Member& member) {
    Outcome outcome;
    outcome.sequence = member.sequence;
    switch (member.state) {
        case State::Held:
            outcome.status = m_writer.AddHeld(member.held, &outcome.recorded);
            break;
        default:  // streamed
            outcome.status = m_writer.AddOpenFile(member.name, std::move(member.source), &outcome.recorded);
            break;
    }
    return outcome;
}

}  // namespace zip
