// A network link with a fixed delay, for benchmarks on a machine without sch_netem:
// creates a TUN device in each of two network namespaces and carries every packet
// from one to the other after holding it for the given time, in order. With a rate,
// each direction also carries at most that many bits a second: a packet waits for the
// ones before it to be sent, and a packet that finds more than a second's worth
// waiting is dropped, as by a router's queue.
//
//   delay-link NETNS_A DEVICE_A NETNS_B DEVICE_B ONE_WAY_MICROSECONDS [KBIT_PER_SECOND]
//
// Prints "ready" once both devices exist (the caller then gives them addresses and
// brings them up) and runs until it is killed; the devices go with it. Needs root.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

namespace {

struct Packet {
    long long due;  // nanoseconds, CLOCK_MONOTONIC
    std::vector<char> bytes;
};

long long Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Creates a TUN device named `device` in the network namespace `netns`.
int OpenTun(const std::string& netns, const std::string& device) {
    const std::string path = "/var/run/netns/" + netns;
    const int ns = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot enter %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    close(ns);
    const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq ifr{};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "%s", device.c_str());
    if (fd < 0 || ioctl(fd, TUNSETIFF, &ifr) != 0) {
        std::fprintf(stderr, "cannot create %s: %s\n", device.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s NETNS_A DEVICE_A NETNS_B DEVICE_B ONE_WAY_US [KBIT_S]\n",
                     argv[0]);
        return 2;
    }
    const int fds[2] = {OpenTun(argv[1], argv[2]), OpenTun(argv[3], argv[4])};
    const long long delay = std::atoll(argv[5]) * 1000LL;
    const long long kbits = argc == 7 ? std::atoll(argv[6]) : 0;
    // When each direction's line is next free to send, in nanoseconds.
    long long lineFree[2] = {0, 0};
    std::printf("ready\n");
    std::fflush(stdout);

    // held[i]: packets read from fds[i], to be written to the other device. The delay
    // is the same for all, so each queue is in order of its due times.
    std::deque<Packet> held[2];
    char buffer[65536];
    for (;;) {
        long long now = Now();
        for (int i = 0; i < 2; ++i) {
            while (!held[i].empty() && held[i].front().due <= now) {
                const std::vector<char>& bytes = held[i].front().bytes;
                // A packet the kernel refuses is lost, as on a real link.
                (void)!write(fds[1 - i], bytes.data(), bytes.size());
                held[i].pop_front();
            }
        }
        long long wait = -1;
        for (const auto& queue : held) {
            if (!queue.empty()) {
                const long long left = queue.front().due - now;
                wait = wait < 0 || left < wait ? left : wait;
            }
        }
        pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        timespec timeout{wait / 1000000000LL, wait % 1000000000LL};
        if (ppoll(polls, 2, wait < 0 ? nullptr : &timeout, nullptr) < 0 && errno != EINTR)
            return 1;
        now = Now();
        for (int i = 0; i < 2; ++i) {
            if ((polls[i].revents & POLLIN) == 0)
                continue;
            for (;;) {
                const ssize_t n = read(fds[i], buffer, sizeof(buffer));
                if (n <= 0)
                    break;
                long long sent = now;
                if (kbits > 0) {
                    const long long start = lineFree[i] > now ? lineFree[i] : now;
                    if (start - now > 1000000000LL)
                        continue;  // the queue holds a second already: dropped
                    sent = start + n * 8 * 1000000LL / kbits;
                    lineFree[i] = sent;
                }
                held[i].push_back({sent + delay, std::vector<char>(buffer, buffer + n)});
            }
        }
    }
}
