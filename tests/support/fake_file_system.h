// FakeFileSystem: a decorator over a real IFileSystem that fails chosen calls with a chosen
// errno (the Nth call of a kind, or every call on a path containing some text) and records
// every path it is asked to change.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

enum class FsCall {
    OpenDirectory,
    ReadDirectory, // one call per Next() of a listing
    Status,
    MakeDirectory,
    RemoveFile,
    RemoveEmptyDirectory,
    SetNormalAttributes,
    RenamePath,
    CopyFileContent,
    CopyMidway, // fails a copy after its first chunk, through the real temporary-file path
    CheckLocked,
    CanonicalPath
};

class FakeFileSystem : public IFileSystem {
public:
    explicit FakeFileSystem(IFileSystem& inner = NativeFileSystem());

    // The nth call (1-based, counted from now) of kind fails with error; n = 0 clears it.
    void FailNth(FsCall kind, int n, int error);
    // An error of kThrow makes the call throw std::bad_alloc instead, as an exhausted heap would.
    static constexpr int kThrow = -1;
    // Every call of kind whose (first) path contains fragment fails with error.
    void FailPath(FsCall kind, const std::string& fragment, int error);
    void Reset();
    // What KeepsFineTimes answers for every path; unset (the default, and after Reset) asks the
    // file system underneath.
    void SetKeepsFineTimes(std::optional<bool> answer);

    int Calls(FsCall kind) const;
    // The total of all calls that may change the disk.
    int MutatingCalls() const;
    // Every path handed to a changing call, in order (both paths of a rename or copy).
    std::vector<std::string> ChangedPaths() const;

    std::unique_ptr<IDirectoryStream> OpenDirectory(const std::string& path, bool followLink, int& error) override;
    int Status(const std::string& path, bool followLink, FileStatus& status) override;
    int MakeDirectory(const std::string& path) override;
    int RemoveFile(const std::string& path) override;
    int RemoveEmptyDirectory(const std::string& path) override;
    int SetNormalAttributes(const std::string& path) override;
    int RenamePath(const std::string& from, const std::string& to) override;
    CopyResult CopyFileContent(const std::string& source, const std::string& destination,
                               const CopyProgressFn& progress, const std::atomic<int>* cancel) override;
    int CheckLocked(const std::string& path, bool& locked) override;
    int CanonicalPath(const std::string& path, std::string& canonical) override;
    bool KeepsFineTimes(const std::string& path) override;

    // Used by the listing wrapper; counts one ReadDirectory call and says whether it fails.
    int CountAndCheck(FsCall kind, const std::string& path);

private:
    int Check(FsCall kind, const std::string& path);
    void RecordChange(const std::string& path);

    IFileSystem& inner;
    mutable std::mutex mutex;
    std::map<FsCall, int> calls;
    struct NthFailure {
        int at = 0; // call number at which to fail, 0 = none
        int error = 0;
    };
    std::map<FsCall, NthFailure> nth;
    struct PathFailure {
        FsCall kind;
        std::string fragment;
        int error;
    };
    std::vector<PathFailure> pathFailures;
    std::vector<std::string> changed;
    std::optional<bool> keepsFineTimes;
};
