// A fresh temporary directory per test, and whole-file byte helpers.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>
#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

#ifdef _WIN32
TempDir::TempDir() {
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("pemo-test-" + std::to_string(seed()));
        if (fs::create_directory(candidate)) {
            path = Utf8Of(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}
#else
TempDir::TempDir() {
    std::string base = fs::temp_directory_path().string() + "/pemo-test-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path = base;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
#ifdef _WIN32
    // Trees deeper than MAX_PATH are reachable only through the \\?\ form.
    const fs::path root = FsPath("\\\\?\\" + path);
#else
    const fs::path root = FsPath(path);
#endif
    // Tests may leave read-only entries behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(root, ec);
}

std::string TempDir::operator/(const std::string& relative) const {
#ifdef _WIN32
    return path + "\\" + NativePath(relative);
#else
    return path + "/" + relative;
#endif
}

std::string NativePath(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(FsPath(path), ec).type() != fs::file_type::not_found && !ec;
}

void MakeDirectories(const std::string& path) {
    fs::create_directories(FsPath(path));
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FsPath(path))) {
        names.push_back(Utf8Of(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifndef _WIN32
int RunAsNobody(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 && geteuid() == 0) {
            _exit(255);
        }
        if ((getegid() == 0 && setgid(65534) != 0) || (geteuid() == 0 && setuid(65534) != 0)) {
            _exit(255);
        }
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

void OpenToEveryone(const std::string& path) {
    chmod(path.c_str(), 0755);
}
#endif
