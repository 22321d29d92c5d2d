// tovaro-cli: the transfer engine from the command line, for scripts and machines without a display.
#include <unistd.h>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Transfer.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    // A closed pipe (tovaro-cli ... | head) must not end the program in the middle of a transfer: the failed
    // write stops the pass after the file in hand instead, and the exit status says so.
    ::signal(SIGPIPE, SIG_IGN);
    platform::RaiseOpenFileLimit();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::ParseResult parsed = cli::ParseCommandLine(args);
    if (!parsed.error.empty()) {
        std::cerr << "tovaro-cli: " << parsed.error << " (see tovaro-cli --help)\n";
        return cli::kExitUsage;
    }
    int status = cli::kExitAllMoved;
    if (parsed.options.help) {
        std::cout << cli::HelpText();
    } else if (parsed.options.version) {
        std::cout << cli::VersionText();
    } else if (parsed.options.log) {
        status = cli::ShowLog(std::cout, std::cerr);
    } else if (parsed.options.undo) {
        status = cli::RunUndo(std::cout, std::cerr);
    } else {
        status = cli::RunTransfer(parsed.options, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
    }
    // A script that reads the list of files must not take a cut-off list (a full disk, a closed pipe) for
    // the whole one.
    if (!std::cout.flush()) {
        std::cerr << "tovaro-cli: the report could not be written to standard output\n";
        return status == cli::kExitAllMoved ? cli::kExitSomeNotMoved : status;
    }
    return status;
}
