// TempDir: a fresh temporary directory for one test, removed with everything in it afterwards,
// and helpers to write and read whole files as bytes.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path() + "/" + relative.
    std::string operator/(const std::string& relative) const;

private:
    std::string path;
};

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
