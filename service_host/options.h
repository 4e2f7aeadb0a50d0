// The command-line scan of the service host.
#pragma once

namespace service_host {

// What the command line asks for.
enum class Action {
    StartControlDispatcher,  // no action option: the default mode
    InstallSelf,             // -i
    RemoveSelf,              // -u
    StartInstalled,          // -s
    StopInstalled,           // -e
    RunConsole,              // -d
    RunHidden,               // -f
};

struct CommandLine {
    Action action = Action::StartControlDispatcher;
    const char* accountName = nullptr;  // -l, points into the argument vector
    const char* password = nullptr;     // -p, points into the argument vector
};

// Scans the arguments after the program name. Only the character after a leading '-' counts,
// case-sensitive; other words are ignored. -d and -f end the scan at once; of the actions -i, -u,
// -s and -e the last one wins. -l and -p take the rest of their word, or the next argument when
// the rest is empty; one of them with nothing after it leaves its value unset and ends the scan.
CommandLine ScanCommandLine(int argc, char** argv);

}  // namespace service_host
