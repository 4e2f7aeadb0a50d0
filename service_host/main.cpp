// The process entry of the daemon.
#include "daemon/quenby.h"

int main(int argc, char** argv) {
    CQuenby quenby;
    return static_cast<int>(quenby.DispatchCommandLine(argc, argv));
}
