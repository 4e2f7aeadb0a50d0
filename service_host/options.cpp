#include "service_host/options.h"

namespace service_host {

CommandLine ScanCommandLine(int argc, char** argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (word[0] != '-') {
            continue;
        }
        switch (word[1]) {
            case 'd':
                result.action = Action::RunConsole;
                return result;
            case 'f':
                result.action = Action::RunHidden;
                return result;
            case 'e':
                result.action = Action::StopInstalled;
                break;
            case 'i':
                result.action = Action::InstallSelf;
                break;
            case 's':
                result.action = Action::StartInstalled;
                break;
            case 'u':
                result.action = Action::RemoveSelf;
                break;
            case 'l':
            case 'p': {
                const char* value = word + 2;
                if (*value == '\0') {
                    if (i + 1 >= argc) {
                        return result;
                    }
                    value = argv[++i];
                }
                (word[1] == 'l' ? result.accountName : result.password) = value;
                break;
            }
            default:
                break;
        }
    }
    return result;
}

}  // namespace service_host
