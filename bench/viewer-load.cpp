// vantrel-loadbench: times how long the log viewer takes to load a file into its list.
//
// The program builds the viewer's main window as the application does (QApplication, the
// application object, the document and the frame), without showing it, and calls
// CMainFrame::LoadLogFile on the given file. The time runs from the call until it has returned
// with "Ready" in the message pane. It then prints the rows in the list, the seconds and the
// process's peak resident set size (VmHWM) so far.
//
// Runs without a display: QT_QPA_PLATFORM is set to "offscreen" unless already set.
//
// Usage:
//   vantrel-loadbench [--repeat N] <file>
//
// With --repeat N the file is loaded N times in the same window; every load replaces the rows
// of the one before, as Refresh does. Peak RSS is the process's high-water mark after that load.

#include <QApplication>
#include <QString>

#include <sys/stat.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "viewer/mainframe.h"
#include "viewer/vantrelapp.h"
#include "viewer/vantreldoc.h"
#include "viewer/vantrelview.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Usage(const char* message) {
    if (message != nullptr) {
        std::fprintf(stderr, "vantrel-loadbench: %s\n", message);
    }
    std::fprintf(stderr, "usage: vantrel-loadbench [--repeat N] <file>\n");
    std::exit(2);
}

// A field of /proc/self/status in kB ("VmHWM", "VmRSS"), -1 when missing.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0) {
            if (i + 1 >= argc) {
                Usage("--repeat needs a count");
            }
            repeat = std::atoi(argv[++i]);
            if (repeat < 1) {
                Usage("--repeat must be at least 1");
            }
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(nullptr);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            Usage("only one file");
        }
    }
    if (path == nullptr) {
        Usage("no file given");
    }
    // The viewer creates a file that does not exist; a benchmark must not.
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "vantrel-loadbench: %s: not a regular file\n", path);
        return 1;
    }

    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));

    CVantrelApp app;
    CVantrelDoc document;
    document.OnNewDocument();
    CMainFrame frame(&app, &document);
    frame.GetActiveView()->OnInitialUpdate();

    const QString file = QString::fromLocal8Bit(path);
    std::printf("file %s, %lld bytes, baseline RSS %.1f MiB\n", path,
                static_cast<long long>(info.st_size),
                static_cast<double>(StatusKiB("VmRSS")) / 1024.0);
    for (int run = 1; run <= repeat; ++run) {
        const Clock::time_point start = Clock::now();
        frame.LoadLogFile(file);
        const Clock::time_point end = Clock::now();
        const QString message = frame.MessageText();
        const double seconds = std::chrono::duration<double>(end - start).count();
        const int rows = frame.GetActiveView()->Model().rowCount();
        const long peak = StatusKiB("VmHWM");
        std::printf("run %d: rows %d seconds %.3f peak_rss_mib %.1f message \"%s\"\n", run, rows,
                    seconds, static_cast<double>(peak) / 1024.0, message.toLocal8Bit().constData());
        std::fflush(stdout);
        if (message != QLatin1String("Ready")) {
            std::fprintf(stderr, "vantrel-loadbench: the load ended with \"%s\", not \"Ready\"\n",
                         message.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
