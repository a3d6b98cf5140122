// TempDir: a fresh temporary directory for one test, removed with everything in it afterwards,
// and helpers to write and read whole files as bytes.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path() + "/" + relative (with the system's own separator).
    std::string operator/(const std::string& relative) const;

private:
    std::string path;
};

// A UTF-8 path as std::filesystem takes it (a plain string means the ANSI code page on Windows).
std::filesystem::path FsPath(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);
// path with every '/' turned into the system's separator, as the engine writes paths it joined.
std::string NativePath(std::string path);

// Writes bytes to path, creating or truncating it; parent directories must exist. Fails the
// test (and throws) when the write fails.
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The whole content of path; fails the test (and throws) when it cannot be read.
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Creates the directory and any missing parents.
void MakeDirectories(const std::string& path);
// Names in the directory, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& path);
#ifndef _WIN32
// Runs body in a forked child under the unprivileged uid/gid 65534 and returns its exit status
// (body's result), or -1 when the child could not drop privileges or died. Tests run as root in
// CI, where permission bits refuse nothing; this is how a refusal is tested. The body must not
// use GoogleTest assertions (they would not reach the parent).
int RunAsNobody(const std::function<int()>& body);
// Makes path readable and searchable by everyone (TempDir starts private to its owner).
void OpenToEveryone(const std::string& path);
#endif
