// Runs a command and prints what it cost: wall time, the bytes it read through read calls (rchar
// of /proc/self/io: what a stick would have had to deliver), the bytes the kernel fetched from
// the storage device for it (read_bytes: page-cache misses only, and nothing for the holes of a
// sparse image), and its peak resident memory. The figures of a child are added to its parent's
// /proc/self/io when it is reaped, so the difference around the run is the command's own.
//
//   quorlan-io-measure [--drop FILE]... -- COMMAND [ARG]...
//
// --drop FILE drops FILE from the page cache first (posix_fadvise DONTNEED; the file is only
// read, never written), so that the run reads it from the device. The command's standard output
// and error go to /dev/null. Prints one line:
//   seconds=S rchar=BYTES read_bytes=BYTES maxrss_kib=K exit=CODE
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct IoCounts {
    unsigned long long rchar = 0;
    unsigned long long readBytes = 0;
};

IoCounts selfIo() {
    IoCounts counts;
    std::ifstream in("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (in >> key >> value) {
        if (key == "rchar:") counts.rchar = value;
        if (key == "read_bytes:") counts.readBytes = value;
    }
    return counts;
}

bool drop(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--drop") == 0 && i + 1 < argc) {
            if (!drop(argv[++i])) {
                std::fprintf(stderr, "quorlan-io-measure: cannot drop %s from the page cache\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: quorlan-io-measure [--drop FILE]... -- COMMAND [ARG]...\n");
            return 2;
        }
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr, "usage: quorlan-io-measure [--drop FILE]... -- COMMAND [ARG]...\n");
        return 2;
    }
    std::vector<char*> command(argv + i + 1, argv + argc);
    command.push_back(nullptr);

    const IoCounts before = selfIo();
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) return 2;
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(command[0], command.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) return 2;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const IoCounts after = selfIo();
    std::printf("seconds=%.3f rchar=%llu read_bytes=%llu maxrss_kib=%ld exit=%d\n", seconds, after.rchar - before.rchar,
                after.readBytes - before.readBytes, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    return 0;
}
