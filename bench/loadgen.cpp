// quenby-loadgen: sends numbered syslog datagrams over UDP at a fixed rate.
//
// Every datagram is "<134>bench seq=NNNNNNNNNN " padded with 'x' to exactly
// --size bytes. The sequence number starts at 1 and is zero-padded to ten
// digits, so a script reading the collector's log can find gaps and
// reordering.
//
// Pacing: the number of datagrams due is computed from a steady clock
// (due = elapsed * rate), and whatever is due is sent with sendmmsg() in
// batches of at most --batch datagrams. The average rate is therefore exact
// and bursts stay small. Only loopback destinations (127.0.0.0/8) are allowed.
//
// Usage:
//   quenby-loadgen --port 5514 --rate 50000 --seconds 10 --size 120
//                  [--host 127.0.0.1] [--batch 32]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPrefix = "<134>bench seq=";
constexpr std::size_t kSeqDigits = 10;
// prefix + ten digits + one blank
constexpr std::size_t kHeaderLen = kPrefix.size() + kSeqDigits + 1;
constexpr std::size_t kMaxSize = 65507;  // largest UDP payload over IPv4
constexpr std::uint64_t kMaxSeq = 9999999999ULL;
constexpr unsigned kMaxBatch = 1024;

struct Options {
    std::string host = "127.0.0.1";
    unsigned long port = 0;
    unsigned long rate = 10000;
    double seconds = 10.0;
    unsigned long size = 120;
    unsigned long batch = 32;
};

[[noreturn]] void usage(const char* msg) {
    if (msg != nullptr) {
        std::fprintf(stderr, "quenby-loadgen: %s\n", msg);
    }
    std::fprintf(stderr,
                 "usage: quenby-loadgen --port N [--rate N/s] [--seconds S] [--size BYTES]\n"
                 "                      [--host 127.x.y.z] [--batch N]\n"
                 "defaults: --rate 10000 --seconds 10 --size 120 --host 127.0.0.1 --batch 32\n");
    std::exit(2);
}

unsigned long parse_ulong(std::string_view name, std::string_view text, unsigned long lo,
                          unsigned long hi) {
    unsigned long value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || value < lo || value > hi) {
        std::string msg = "bad value for " + std::string(name) + ": '" + std::string(text) +
                          "' (allowed " + std::to_string(lo) + ".." + std::to_string(hi) + ")";
        usage(msg.c_str());
    }
    return value;
}

double parse_seconds(std::string_view text) {
    char* end = nullptr;
    std::string copy(text);
    errno = 0;
    double value = std::strtod(copy.c_str(), &end);
    if (errno != 0 || end == copy.c_str() || *end != '\0' || !(value > 0.0) || value > 3600.0) {
        usage("bad value for --seconds (allowed: > 0 and <= 3600)");
    }
    return value;
}

Options parse_args(int argc, char** argv) {
    Options opt;
    bool have_port = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(nullptr);
        }
        if (i + 1 >= argc) {
            std::string msg = "missing value for " + std::string(arg);
            usage(msg.c_str());
        }
        std::string_view val = argv[++i];
        if (arg == "--port") {
            opt.port = parse_ulong(arg, val, 1, 65535);
            have_port = true;
        } else if (arg == "--rate") {
            opt.rate = parse_ulong(arg, val, 1, 10'000'000);
        } else if (arg == "--seconds") {
            opt.seconds = parse_seconds(val);
        } else if (arg == "--size") {
            opt.size = parse_ulong(arg, val, kHeaderLen, kMaxSize);
        } else if (arg == "--host") {
            opt.host = std::string(val);
        } else if (arg == "--batch") {
            opt.batch = parse_ulong(arg, val, 1, kMaxBatch);
        } else {
            std::string msg = "unknown option " + std::string(arg);
            usage(msg.c_str());
        }
    }
    if (!have_port) {
        usage("--port is required");
    }
    return opt;
}

// Writes the ten-digit, zero-padded sequence number into the datagram.
void put_seq(char* buf, std::uint64_t seq) {
    char* digits = buf + kPrefix.size();
    for (std::size_t i = kSeqDigits; i > 0; --i) {
        digits[i - 1] = static_cast<char>('0' + static_cast<int>(seq % 10));
        seq /= 10;
    }
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parse_args(argc, argv);

    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(static_cast<std::uint16_t>(opt.port));
    if (inet_pton(AF_INET, opt.host.c_str(), &dst.sin_addr) != 1) {
        usage("--host must be a dotted IPv4 address");
    }
    if ((ntohl(dst.sin_addr.s_addr) >> 24) != 127U) {
        usage("--host must be a loopback address (127.0.0.0/8)");
    }

    const auto total_d = static_cast<double>(opt.rate) * opt.seconds;
    if (total_d < 1.0 || total_d > static_cast<double>(kMaxSeq)) {
        usage("--rate * --seconds must be between 1 and 9999999999");
    }
    const auto total = static_cast<std::uint64_t>(total_d);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("quenby-loadgen: socket");
        return 1;
    }
    // A larger send buffer keeps sendmmsg from blocking on a momentary stall.
    int sndbuf = 4 * 1024 * 1024;
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);

    // One buffer per batch slot; the header and padding are written once and
    // only the sequence digits change.
    const std::size_t size = opt.size;
    const unsigned batch = static_cast<unsigned>(opt.batch);
    std::vector<char> bufs(static_cast<std::size_t>(batch) * size, 'x');
    std::vector<iovec> iovs(batch);
    std::vector<mmsghdr> msgs(batch);
    for (unsigned i = 0; i < batch; ++i) {
        char* b = bufs.data() + static_cast<std::size_t>(i) * size;
        std::memcpy(b, kPrefix.data(), kPrefix.size());
        b[kHeaderLen - 1] = ' ';
        iovs[i].iov_base = b;
        iovs[i].iov_len = size;
        msgs[i] = mmsghdr{};
        msgs[i].msg_hdr.msg_name = &dst;
        msgs[i].msg_hdr.msg_namelen = sizeof dst;
        msgs[i].msg_hdr.msg_iov = &iovs[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }

    const double rate = static_cast<double>(opt.rate);
    // Hard stop: if the sender cannot keep up, it gives up a little after the
    // planned duration instead of running on.
    const double give_up = opt.seconds * 1.1 + 1.0;
    // Sleep granularity: roughly one batch worth of time, at most 1 ms.
    const double batch_period = std::min(static_cast<double>(batch) / rate, 0.001);

    std::uint64_t sent = 0;
    std::uint64_t send_errors = 0;
    int last_errno = 0;
    bool gave_up = false;
    const auto start = Clock::now();

    while (sent < total) {
        const double elapsed = seconds_since(start);
        if (elapsed > give_up) {
            gave_up = true;
            break;
        }
        auto due = static_cast<std::uint64_t>(elapsed * rate) + 1;
        if (due > total) {
            due = total;
        }
        if (due <= sent) {
            // Nothing due yet: sleep until the next datagram is due, but not
            // longer than one batch period.
            const double next_at = static_cast<double>(sent) / rate;
            double wait = next_at - elapsed;
            if (wait > batch_period) {
                wait = batch_period;
            }
            if (wait > 0.0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            }
            continue;
        }
        std::uint64_t pending = due - sent;
        while (pending > 0) {
            const unsigned n = pending < batch ? static_cast<unsigned>(pending) : batch;
            for (unsigned i = 0; i < n; ++i) {
                put_seq(static_cast<char*>(iovs[i].iov_base), sent + i + 1);
            }
            const int rc = ::sendmmsg(fd, msgs.data(), n, 0);
            if (rc < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // Unconnected UDP socket: errors here are local (ENOBUFS and
                // the like). Count them and resend the same numbers later.
                ++send_errors;
                last_errno = errno;
                if (send_errors > 1000000) {
                    std::fprintf(stderr, "quenby-loadgen: too many send errors: %s\n",
                                 std::strerror(last_errno));
                    ::close(fd);
                    return 1;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                break;
            }
            sent += static_cast<std::uint64_t>(rc);
            pending -= static_cast<std::uint64_t>(rc);
        }
    }

    const double took = seconds_since(start);
    ::close(fd);

    if (send_errors > 0) {
        std::fprintf(stderr, "quenby-loadgen: %llu send errors (last: %s)\n",
                     static_cast<unsigned long long>(send_errors), std::strerror(last_errno));
    }
    if (gave_up) {
        std::fprintf(stderr,
                     "quenby-loadgen: could not keep the rate, stopped after %.3f s"
                     " with %llu of %llu sent\n",
                     took, static_cast<unsigned long long>(sent),
                     static_cast<unsigned long long>(total));
    }
    std::printf("sent %llu in %.3f s (%.0f/s)\n", static_cast<unsigned long long>(sent), took,
                took > 0.0 ? static_cast<double>(sent) / took : 0.0);
    return gave_up ? 1 : 0;
}
