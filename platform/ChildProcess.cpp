#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/ExecutablePath.h"
#include "platform/Path.h"
#include "platform/Process.h"

extern char** environ;

namespace platform {
namespace {

bool IsExecutable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string HelperProgramPath(const std::string& name) {
    const std::string self = ExecutablePath();
    const std::string installed = JoinPath(FolderOf(FolderOf(self)), "lib/tovaro/" + name);
    if (IsExecutable(installed)) {
        return installed;
    }
#ifdef TOVARO_BUILD_DIR
    // Only a program that lives in the build folder itself takes the helper from there: an installed one
    // never runs a program found under a path that was fixed when it was built.
    constexpr std::string_view kBuild = TOVARO_BUILD_DIR "/";
    const std::string built = std::string(kBuild) + "lib/tovaro/" + name;
    if (self.starts_with(kBuild) && IsExecutable(built)) {
        return built;
    }
#endif
    return {};
}

Status ChildProcess::Start(const std::string& program) {
    Kill();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return Failure::Now("socketpair", program);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // dup2 clears close-on-exec on the copies the program gets; our own ends keep it.
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t all, none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const int failed = ::posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed != 0) {
        m_pid = -1;
        ::close(ends[0]);
        return Failure{failed, "posix_spawn", program};
    }
    RestoreForHelper(m_pid);  // the limit on open files it was started with, not ours
    m_socket = ends[0];
    return {};
}

void ChildProcess::Kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

}  // namespace platform
