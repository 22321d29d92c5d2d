#include "transfer/CaptureDateReader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/Move.h"

namespace transfer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCancelCheck = std::chrono::milliseconds(20);

bool SendAll(int socket, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        // MSG_NOSIGNAL: a helper that has died gives EPIPE, never a SIGPIPE that would end the program.
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

}  // namespace

CaptureDateReader::CaptureDateReader(const CancelFlag* cancel, std::string program, int limitSeconds)
    : m_cancel(cancel), m_program(std::move(program)), m_limitSeconds(limitSeconds) {}

std::string CaptureDateReader::DefaultProgram() {
    return platform::HelperProgramPath("tovaro-capture-date");
}

CaptureRead CaptureDateReader::Read(const std::string& path) {
    if (!m_startError) {
        return {CaptureStatus::Unavailable};
    }
    // A helper that died after its last answer is found out by the send: start it afresh, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_helper.IsRunning()) {
            m_startError = m_program.empty() ? platform::Failure{ENOENT, "posix_spawn", "tovaro-capture-date"}
                                             : m_helper.Start(m_program);
        }
        if (!m_startError) {
            return {CaptureStatus::Unavailable};
        }
        if (SendAll(m_helper.Socket(), path + '\0')) {
            return Answer();
        }
        m_helper.Kill();
    }
    return {CaptureStatus::ReaderFailed};
}

// Waits for the helper's line, in short steps so that a cancel is seen at once.
CaptureRead CaptureDateReader::Answer() {
    const auto deadline = Clock::now() + std::chrono::seconds(m_limitSeconds);
    std::string line;
    for (;;) {
        if (m_cancel != nullptr && m_cancel->load()) {
            m_helper.Kill();
            return {CaptureStatus::Cancelled};
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            m_helper.Kill();
            return {CaptureStatus::TimedOut};
        }
        pollfd ready{m_helper.Socket(), POLLIN, 0};
        const auto wait = std::min<Clock::duration>(kCancelCheck, deadline - now);
        if (::poll(&ready, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count())) <=
            0) {
            continue;
        }
        char buffer[64];
        const ssize_t n = ::recv(m_helper.Socket(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {  // it died on this file
            m_helper.Kill();
            return {CaptureStatus::ReaderFailed};
        }
        line.append(buffer, static_cast<size_t>(n));
        if (line.back() == '\n') {
            int status = 0;
            long long time = 0;
            if (std::sscanf(line.c_str(), "%d %lld", &status, &time) != 2 ||
                status > static_cast<int>(CaptureStatus::Damaged) || status < 0) {
                m_helper.Kill();
                return {CaptureStatus::ReaderFailed};
            }
            return {static_cast<CaptureStatus>(status), static_cast<time_t>(time)};
        }
    }
}

}  // namespace transfer
