// pemo_bench: the benchmark driver. Generates the deterministic test tree, changes a share of
// its files, and mirrors one directory with the engine, printing the time and peak memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/message_port.h"
#include "model/task.h"
#include "run/html_log.h"
#include "sync/do_directory.h"

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

class QuietPort : public IMessagePort {
public:
    void MessageBox(const std::string& text) override { std::fprintf(stderr, "pemo_bench: %s\n", text.c_str()); }
};

int Mirror(const std::string& source, const std::string& destination, const std::string& logPath) {
    CRunContext ctx;
    QuietPort port;
    ctx.messages = &port;
    CRunLog log(ctx);
    ctx.log = &log;
    std::string reason;
    log.BeginRun();
    if (!log.StartLog(logPath, reason)) {
        std::fprintf(stderr, "pemo_bench: %s\n", reason.c_str());
        return 1;
    }
    Task task;
    RunStats stats;
    auto start = std::chrono::steady_clock::now();
    DoDirectory(ctx, source, destination, "", task, stats);
    log.FinishLog(reason);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f maxrss_kib=%ld new=%d changed=%d same=%d deleted=%d errors=%d\n", seconds,
                usage.ru_maxrss, stats.newFiles, stats.changed, stats.same, stats.deleted, stats.errors);
    return stats.errors == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "generate") == 0) {
        return Generate(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "change") == 0) {
        return Change(argv[2]);
    }
    if (argc == 5 && std::strcmp(argv[1], "mirror") == 0) {
        return Mirror(argv[2], argv[3], argv[4]);
    }
    std::fprintf(stderr, "usage: pemo_bench generate ROOT | change ROOT | mirror SOURCE DESTINATION LOG\n");
    return 64;
}
