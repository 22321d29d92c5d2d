// tovaro-cli: the transfer engine from the command line, for scripts and machines without a display.
#include <unistd.h>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Transfer.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::ParseResult parsed = cli::ParseCommandLine(args);
    if (!parsed.error.empty()) {
        std::cerr << "tovaro-cli: " << parsed.error << " (see tovaro-cli --help)\n";
        return cli::kExitUsage;
    }
    if (parsed.options.help) {
        std::cout << cli::HelpText();
        return cli::kExitAllMoved;
    }
    return cli::RunTransfer(parsed.options, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
