// A helper program of ours that a pass starts and talks to: it runs where its faults (a hang, an abort, a
// runaway allocation) end only itself.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Outcome.h"

namespace platform {

// The path of a helper program that is installed with the running program: in lib/tovaro beside the folder
// of the executable (PREFIX/bin/tovaro-cli, PREFIX/lib/tovaro/NAME), or, for a program run from its build
// folder, in that folder's lib/tovaro. Empty when there is none.
std::string HelperProgramPath(const std::string& name);

// A started program whose standard input and output are one socket of ours; its standard error goes to
// /dev/null. It is exec'd directly (posix_spawn), never forked from this threaded program, with the default
// signal dispositions and an empty signal mask, in a process group of its own, so that a Ctrl-C meant for us
// does not end it in the middle of an answer: we end it ourselves. Ending the object kills the program.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (no arguments); a failure names the program.
    Status Start(const std::string& program);
    bool IsRunning() const { return m_pid > 0; }
    // Our end of the socket, or -1.
    int Socket() const { return m_socket; }
    // Ends the program at once (SIGKILL), reaps it and closes the socket. Does nothing when none runs.
    void Kill();

  private:
    pid_t m_pid = -1;
    int m_socket = -1;
};

}  // namespace platform
