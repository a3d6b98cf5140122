// pemo_bench: the benchmark's helper. Generates the deterministic test trees, changes a share of
// their files, and times a command with the peak memory of its largest process.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small fixed generator so that every run builds byte-identical trees.
struct Random {
    std::uint64_t state;
    std::uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

void WriteFile(const std::string& path, std::size_t size, Random& rnd, std::int64_t mtime) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::vector<char> block(std::min<std::size_t>(size, 1 << 20));
    std::size_t left = size;
    while (left > 0) {
        std::size_t n = std::min(left, block.size());
        for (std::size_t i = 0; i < n; i += 8) {
            std::uint64_t v = rnd.Next();
            std::memcpy(block.data() + i, &v, std::min<std::size_t>(8, n - i));
        }
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
            std::perror(path.c_str());
            std::exit(1);
        }
        left -= n;
    }
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::futimens(fd, times);
    ::close(fd);
}

void MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// The files of the tree in a fixed order: 1,000 directories of 20 files in two levels, one flat
// directory of 100,000 small files, and three large files.
std::vector<std::pair<std::string, std::size_t>> Layout() {
    std::vector<std::pair<std::string, std::size_t>> files;
    Random rnd{0x9E3779B97F4A7C15ull};
    for (int d = 0; d < 1000; ++d) {
        char dir[64];
        std::snprintf(dir, sizeof dir, "tree/g%02d/d%04d", d / 50, d);
        for (int f = 0; f < 20; ++f) {
            char name[96];
            std::snprintf(name, sizeof name, "%s/file%02d.dat", dir, f);
            files.emplace_back(name, 200 + rnd.Next() % 16000);
        }
    }
    for (int f = 0; f < 100000; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "flat/item%06d.txt", f);
        files.emplace_back(name, 64 + rnd.Next() % 1024);
    }
    files.emplace_back("big/video10.bin", 10u << 20);
    files.emplace_back("big/video30.bin", 30u << 20);
    files.emplace_back("big/video50.bin", 50u << 20);
    return files;
}

int Generate(const std::string& root) {
    MakeDir(root);
    MakeDir(root + "/tree");
    for (int g = 0; g < 20; ++g) {
        char dir[32];
        std::snprintf(dir, sizeof dir, "/tree/g%02d", g);
        MakeDir(root + dir);
    }
    for (int d = 0; d < 1000; ++d) {
        char dir[48];
        std::snprintf(dir, sizeof dir, "/tree/g%02d/d%04d", d / 50, d);
        MakeDir(root + dir);
    }
    MakeDir(root + "/flat");
    MakeDir(root + "/big");
    Random rnd{12345};
    std::size_t count = 0;
    for (const auto& [name, size] : Layout()) {
        WriteFile(root + "/" + name, size, rnd, 1600000000 + static_cast<std::int64_t>(count % 100000));
        ++count;
    }
    std::printf("generated %zu files\n", count);
    return 0;
}

// COUNT small files of 0 to 255 bytes, 100 to a directory under 100 parent directories: the
// same shape at every size, so that times can be compared across sizes.
int GenerateSmall(const std::string& root, std::size_t count) {
    MakeDir(root);
    Random rnd{4242};
    std::size_t directories = (count + 99) / 100;
    for (std::size_t d = 0; d < directories; ++d) {
        char dir[64];
        std::snprintf(dir, sizeof dir, "/p%02zu", d % 100);
        if (d < 100) {
            MakeDir(root + dir);
        }
        std::snprintf(dir, sizeof dir, "/p%02zu/d%06zu", d % 100, d);
        MakeDir(root + dir);
        for (std::size_t f = d * 100; f < std::min(count, (d + 1) * 100); ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "/f%07zu", f);
            WriteFile(root + dir + name, rnd.Next() % 256, rnd, 1600000000 + static_cast<std::int64_t>(f % 100000));
        }
    }
    std::printf("generated %zu small files\n", count);
    return 0;
}

// Rewrites every hundredth file with a new length and a later time.
int Change(const std::string& root) {
    Random rnd{777};
    std::size_t index = 0;
    std::size_t changed = 0;
    for (const auto& [name, size] : Layout()) {
        if (index++ % 100 == 0) {
            WriteFile(root + "/" + name, size + 17, rnd, 1700000000);
            ++changed;
        }
    }
    std::printf("changed %zu files\n", changed);
    return 0;
}

// Runs a command, waits for it and prints its wall time and the peak resident size of the
// largest process it or any of its descendants had (rsync forks; Pemo does not).
int Run(char** argv) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(argv[0], argv);
        std::perror(argv[0]);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::perror("waitpid");
            return 1;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("seconds=%.3f maxrss_kib=%ld status=%d\n", seconds, usage.ru_maxrss, code);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "generate") == 0) {
        return Generate(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "change") == 0) {
        return Change(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "small") == 0) {
        return GenerateSmall(argv[2], std::strtoul(argv[3], nullptr, 10));
    }
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0 && std::strcmp(argv[2], "--") == 0) {
        return Run(argv + 3);
    }
    std::fprintf(stderr, "usage: pemo_bench generate ROOT | change ROOT | small ROOT COUNT | run -- COMMAND...\n");
    return 64;
}
