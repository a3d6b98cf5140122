// The fault-injecting file-system decorator of the engine tests.
#include "support/fake_file_system.h"

#include "support/temp_dir.h"

#include <cerrno>
#include <new>
#include <utility>

namespace {

class FakeDirectoryStream : public IDirectoryStream {
public:
    FakeDirectoryStream(FakeFileSystem& owner, std::unique_ptr<IDirectoryStream> inner, std::string path)
        : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}

    bool Next(DirEntry& entry) override {
        if (error_) {
            return false;
        }
        int e = owner_.CountAndCheck(FsCall::ReadDirectory, path_);
        if (e != 0) {
            error_ = FsError::FromSystem(e);
            return false;
        }
        return inner_->Next(entry);
    }
    FsError Error() const override { return error_ ? error_ : inner_->Error(); }

private:
    FakeFileSystem& owner_;
    std::unique_ptr<IDirectoryStream> inner_;
    std::string path_;
    FsError error_;
};

} // namespace

FakeFileSystem::FakeFileSystem(IFileSystem& innerFs) : inner(innerFs) {}

void FakeFileSystem::FailNth(FsCall kind, int n, int error) {
    std::lock_guard<std::mutex> lock(mutex);
    nth[kind] = NthFailure{n == 0 ? 0 : calls[kind] + n, error};
}

void FakeFileSystem::FailPath(FsCall kind, const std::string& fragment, int error) {
    std::lock_guard<std::mutex> lock(mutex);
    pathFailures.push_back(PathFailure{kind, fragment, error});
}

void FakeFileSystem::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    nth.clear();
    pathFailures.clear();
    changed.clear();
    listed.clear();
    keepsFineTimes.reset();
    beforeNext.clear();
}

void FakeFileSystem::BeforeNext(FsCall kind, std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mutex);
    beforeNext[kind] = std::move(action);
}

void FakeFileSystem::SetKeepsFineTimes(std::optional<bool> answer) {
    std::lock_guard<std::mutex> lock(mutex);
    keepsFineTimes = answer;
}

int FakeFileSystem::Calls(FsCall kind) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = calls.find(kind);
    return it == calls.end() ? 0 : it->second;
}

int FakeFileSystem::MutatingCalls() const {
    int total = 0;
    for (FsCall kind :
         {FsCall::MakeDirectory, FsCall::RemoveFile, FsCall::RemoveEmptyDirectory, FsCall::SetNormalAttributes,
          FsCall::RenamePath, FsCall::CopyFileContent, FsCall::SetMode, FsCall::FlushFileSystem, FsCall::MakeLink,
          FsCall::SetLinkTime, FsCall::SetOwner, FsCall::ProbeTimes, FsCall::Move}) {
        total += Calls(kind);
    }
    return total;
}

std::vector<std::string> FakeFileSystem::ChangedPaths() const {
    std::lock_guard<std::mutex> lock(mutex);
    return changed;
}

std::vector<std::string> FakeFileSystem::ListedPaths() const {
    std::lock_guard<std::mutex> lock(mutex);
    return listed;
}

int FakeFileSystem::SystemCode(int posixError) {
#ifdef _WIN32
    // As the POSIX backend reads them; a map, as some of these share a value on some systems.
    static const std::map<int, ErrorKind> kinds = {{ENOENT, ErrorKind::NotFound},
                                                   {ENOTDIR, ErrorKind::NotADirectory},
                                                   {EISDIR, ErrorKind::IsADirectory},
                                                   {ELOOP, ErrorKind::IsALink},
                                                   {EACCES, ErrorKind::AccessDenied},
                                                   {EPERM, ErrorKind::AccessDenied},
                                                   {EEXIST, ErrorKind::Exists},
                                                   {ENOTEMPTY, ErrorKind::NotEmpty},
                                                   {ENOSPC, ErrorKind::NoSpace},
                                                   {EFBIG, ErrorKind::NoSpace},
#ifdef EDQUOT
                                                   {EDQUOT, ErrorKind::NoSpace},
#endif
                                                   {ENAMETOOLONG, ErrorKind::NameTooLong},
                                                   {EROFS, ErrorKind::ReadOnly},
                                                   {EBUSY, ErrorKind::Busy},
                                                   {ETXTBSY, ErrorKind::Busy},
                                                   {EWOULDBLOCK, ErrorKind::Busy},
                                                   {EINTR, ErrorKind::Interrupted},
                                                   {ENOTSUP, ErrorKind::NotSupported},
                                                   {EOPNOTSUPP, ErrorKind::NotSupported},
                                                   {ENOSYS, ErrorKind::NotSupported},
                                                   {EXDEV, ErrorKind::CrossDevice},
                                                   {EMFILE, ErrorKind::TooManyOpen},
                                                   {ENFILE, ErrorKind::TooManyOpen},
#ifdef ESTALE
                                                   {ESTALE, ErrorKind::Replaced},
#endif
                                                   {EIO, ErrorKind::DeviceFault},
                                                   {ENXIO, ErrorKind::DeviceFault},
                                                   {ENODEV, ErrorKind::DeviceFault},
                                                   {EDEADLK, ErrorKind::LockFailed},
                                                   {ENOLCK, ErrorKind::LockFailed},
                                                   {EBADF, ErrorKind::BadHandle}};
    auto it = kinds.find(posixError);
    return it == kinds.end() ? SystemCodeOfKind(ErrorKind::Other) : SystemCodeOfKind(it->second);
#else
    return posixError;
#endif
}

int FakeFileSystem::CountAndCheck(FsCall kind, const std::string& path) {
    int e = Check(kind, path);
    if (e == kThrow) {
        throw std::bad_alloc();
    }
    return e == 0 ? 0 : SystemCode(e);
}

int FakeFileSystem::Check(FsCall kind, const std::string& path) {
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(mutex);
        action = std::exchange(beforeNext[kind], nullptr);
    }
    if (action) {
        action();
    }
    std::lock_guard<std::mutex> lock(mutex);
    int number = ++calls[kind];
    auto it = nth.find(kind);
    if (it != nth.end() && it->second.at == number) {
        return it->second.error;
    }
    for (const PathFailure& failure : pathFailures) {
        if (failure.kind == kind && path.find(NativePath(failure.fragment)) != std::string::npos) {
            return failure.error;
        }
    }
    return 0;
}

void FakeFileSystem::RecordChange(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    changed.push_back(path);
}

void FakeFileSystem::Remember(const DirectoryHandle& handle, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    directoryPaths[handle.Native()] = path;
}

std::string FakeFileSystem::PathIn(const DirectoryHandle& dir, const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = directoryPaths.find(dir.Native());
    std::string base = it == directoryPaths.end() ? std::string("?") : it->second;
    if (name.empty() || name == ".") {
        return base;
    }
    return (base == "/" ? std::string() : base) + kPathSeparator + name;
}

FsError FakeFileSystem::OpenDirectoryPath(const std::string& path, bool followLink, DirectoryHandle& handle) {
    int injected = CountAndCheck(FsCall::OpenDirectory, path);
    if (injected != 0) {
        return FsError::FromSystem(injected);
    }
    FsError e = inner.OpenDirectoryPath(path, followLink, handle);
    if (!e) {
        Remember(handle, path);
    }
    return e;
}

FsError FakeFileSystem::OpenDirectoryAt(const DirectoryHandle& parent, const std::string& name,
                                        DirectoryHandle& handle) {
    const std::string path = PathIn(parent, name);
    int injected = CountAndCheck(FsCall::OpenDirectory, path);
    if (injected != 0) {
        return FsError::FromSystem(injected);
    }
    FsError e = inner.OpenDirectoryAt(parent, name, handle);
    if (!e) {
        Remember(handle, path);
    }
    return e;
}

std::unique_ptr<IDirectoryStream> FakeFileSystem::ListDirectory(const DirectoryHandle& dir, FsError& error) {
    const std::string path = PathIn(dir, "");
    {
        std::lock_guard<std::mutex> lock(mutex);
        listed.push_back(path);
    }
    int e = CountAndCheck(FsCall::ListDirectory, path);
    if (e != 0) {
        error = FsError::FromSystem(e);
        return nullptr;
    }
    std::unique_ptr<IDirectoryStream> stream = inner.ListDirectory(dir, error);
    if (!stream) {
        return nullptr;
    }
    return std::make_unique<FakeDirectoryStream>(*this, std::move(stream), path);
}

FsError FakeFileSystem::Status(const std::string& path, bool followLink, FileStatus& status) {
    int e = CountAndCheck(FsCall::Status, path);
    return e != 0 ? FsError::FromSystem(e) : inner.Status(path, followLink, status);
}

FsError FakeFileSystem::StatusAt(const DirectoryHandle& dir, const std::string& name, bool followLink,
                                 FileStatus& status) {
    int e = CountAndCheck(FsCall::Status, PathIn(dir, name));
    return e != 0 ? FsError::FromSystem(e) : inner.StatusAt(dir, name, followLink, status);
}

FsError FakeFileSystem::MakeDirectory(const std::string& path) {
    RecordChange(path);
    int e = CountAndCheck(FsCall::MakeDirectory, path);
    return e != 0 ? FsError::FromSystem(e) : inner.MakeDirectory(path);
}

FsError FakeFileSystem::MakeDirectoryAt(const DirectoryHandle& dir, const std::string& name) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::MakeDirectory, path);
    return e != 0 ? FsError::FromSystem(e) : inner.MakeDirectoryAt(dir, name);
}

FsError FakeFileSystem::RemoveFileAt(const DirectoryHandle& dir, const std::string& name) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::RemoveFile, path);
    return e != 0 ? FsError::FromSystem(e) : inner.RemoveFileAt(dir, name);
}

FsError FakeFileSystem::RemoveDirectoryAt(const DirectoryHandle& dir, const std::string& name) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::RemoveEmptyDirectory, path);
    return e != 0 ? FsError::FromSystem(e) : inner.RemoveDirectoryAt(dir, name);
}

FsError FakeFileSystem::SetNormalAttributesAt(const DirectoryHandle& dir, const std::string& name) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::SetNormalAttributes, path);
    return e != 0 ? FsError::FromSystem(e) : inner.SetNormalAttributesAt(dir, name);
}

FsError FakeFileSystem::SetModeAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                                  std::uint32_t mode) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::SetMode, path);
    return e != 0 ? FsError::FromSystem(e) : inner.SetModeAt(dir, name, expected, mode);
}

FsError FakeFileSystem::RenameAt(const DirectoryHandle& dir, const std::string& from, const std::string& to) {
    const std::string fromPath = PathIn(dir, from);
    RecordChange(fromPath);
    RecordChange(PathIn(dir, to));
    int e = CountAndCheck(FsCall::RenamePath, fromPath);
    return e != 0 ? FsError::FromSystem(e) : inner.RenameAt(dir, from, to);
}

FsError FakeFileSystem::MoveAt(const DirectoryHandle& fromDir, const std::string& from, const DirectoryHandle& toDir,
                               const std::string& to) {
    const std::string fromPath = PathIn(fromDir, from);
    RecordChange(fromPath);
    RecordChange(PathIn(toDir, to));
    int e = CountAndCheck(FsCall::Move, fromPath);
    return e != 0 ? FsError::FromSystem(e) : inner.MoveAt(fromDir, from, toDir, to);
}

FsError FakeFileSystem::ReadLinkAt(const DirectoryHandle& dir, const std::string& name, std::string& target) {
    int e = CountAndCheck(FsCall::ReadLink, PathIn(dir, name));
    return e != 0 ? FsError::FromSystem(e) : inner.ReadLinkAt(dir, name, target);
}

FsError FakeFileSystem::MakeLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::MakeLink, path);
    return e != 0 ? FsError::FromSystem(e) : inner.MakeLinkAt(dir, name, target);
}

FsError FakeFileSystem::SetLinkTimeAt(const DirectoryHandle& dir, const std::string& name, std::int64_t seconds,
                                      std::int64_t nanoseconds) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::SetLinkTime, path);
    return e != 0 ? FsError::FromSystem(e) : inner.SetLinkTimeAt(dir, name, seconds, nanoseconds);
}

FsError FakeFileSystem::ProbeTimesAt(const DirectoryHandle& dir, const FileTime& set, FileTime& kept) {
    const std::string path = PathIn(dir, std::string(kTemporaryCopyPrefix));
    RecordChange(path);
    int e = CountAndCheck(FsCall::ProbeTimes, path);
    return e != 0 ? FsError::FromSystem(e) : inner.ProbeTimesAt(dir, set, kept);
}

FsError FakeFileSystem::OpenCopySourceAt(const DirectoryHandle& dir, const std::string& name,
                                         const FileIdentity& identity, bool followLink, FileHandle& source) {
    const std::string path = PathIn(dir, name);
    if (int e = CountAndCheck(FsCall::OpenSource, path)) {
        return FsError::FromSystem(e);
    }
    FsError e = inner.OpenCopySourceAt(dir, name, identity, followLink, source);
    if (!e) {
        RememberFile(source, path);
    }
    return e;
}

FsError FakeFileSystem::CheckOpenFileLocked(const FileHandle& source, bool& locked) {
    FsError e = CheckFile(FsCall::CheckLocked, source);
    return e ? e : inner.CheckOpenFileLocked(source, locked);
}

CopyResult FakeFileSystem::CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                                          const std::string& destinationName, const CopyProgressFn& progress,
                                          const std::atomic<int>* cancel) {
    const std::string path = PathOf(source);
    RecordChange(PathIn(destinationDir, destinationName));
    int e = CountAndCheck(FsCall::CopyFileContent, path);
    if (e != 0) {
        return CopyResult{CopyOutcome::Failed, FsError::FromSystem(e)};
    }
    int midway = CountAndCheck(FsCall::CopyMidway, path);
    if (midway == 0) {
        return inner.CopyOpenFileAt(source, destinationDir, destinationName, progress, cancel);
    }
    // Break the real copy after its first chunk through its own cancel path, then report the
    // injected error: the temporary file must be gone and the destination untouched.
    std::atomic<int> breakOff{0};
    CopyProgressFn wrapped = [&](std::uint64_t total, std::uint64_t transferred) {
        if (progress) {
            progress(total, transferred);
        }
        breakOff = 1;
    };
    CopyResult result = inner.CopyOpenFileAt(source, destinationDir, destinationName, wrapped, &breakOff);
    if (result.outcome == CopyOutcome::Cancelled) {
        return CopyResult{CopyOutcome::Failed, FsError::FromSystem(midway)};
    }
    return result;
}

FsError FakeFileSystem::FlushFileSystem(const DirectoryHandle& dir) {
    int e = CountAndCheck(FsCall::FlushFileSystem, PathIn(dir, ""));
    return e != 0 ? FsError::FromSystem(e) : inner.FlushFileSystem(dir);
}

FsError FakeFileSystem::CanonicalPath(const std::string& path, std::string& canonical) {
    int e = CountAndCheck(FsCall::CanonicalPath, path);
    return e != 0 ? FsError::FromSystem(e) : inner.CanonicalPath(path, canonical);
}

bool FakeFileSystem::KeepsFineTimes(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (keepsFineTimes) {
            return *keepsFineTimes;
        }
    }
    return inner.KeepsFineTimes(path);
}

// ---- The files the program keeps itself ----

const std::vector<FsCall>& FakeFileSystem::FileCallKinds() {
    static const std::vector<FsCall> kinds = {FsCall::OpenFile,      FsCall::FileInfo,
                                              FsCall::ReadFile,      FsCall::WriteFile,
                                              FsCall::SeekFile,      FsCall::TruncateFile,
                                              FsCall::SetFileMode,   FsCall::SyncFile,
                                              FsCall::CloseFile,     FsCall::LockFile,
                                              FsCall::UnlockFile,    FsCall::RenameFile,
                                              FsCall::SyncDirectory, FsCall::MakeDirectoryWithMode,
                                              FsCall::RemoveFile,    FsCall::ListDirectory,
                                              FsCall::ReadDirectory, FsCall::OpenDirectory,
                                              FsCall::Status,        FsCall::CanonicalPath};
    return kinds;
}

void FakeFileSystem::RememberFile(const FileHandle& file, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    filePaths[file.Native()] = path;
}

std::string FakeFileSystem::PathOf(const FileHandle& file) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = filePaths.find(file.Native());
    return it == filePaths.end() ? std::string("?") : it->second;
}

FsError FakeFileSystem::CheckFile(FsCall kind, const FileHandle& file) {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = filePaths.find(file.Native());
        path = it == filePaths.end() ? std::string("?") : it->second;
    }
    return FsError::FromSystem(CountAndCheck(kind, path));
}

FsError FakeFileSystem::OpenFile(const std::string& path, const FileOpenMode& mode, FileHandle& file) {
    if (mode.access != FileAccess::Read) {
        RecordChange(path);
    }
    if (int e = CountAndCheck(FsCall::OpenFile, path)) {
        return FsError::FromSystem(e);
    }
    FsError e = inner.OpenFile(path, mode, file);
    if (!e) {
        RememberFile(file, path);
    }
    return e;
}

FsError FakeFileSystem::OpenFileAt(const DirectoryHandle& dir, const std::string& name, const FileOpenMode& mode,
                                   FileHandle& file) {
    const std::string path = PathIn(dir, name);
    if (mode.access != FileAccess::Read) {
        RecordChange(path);
    }
    if (int e = CountAndCheck(FsCall::OpenFile, path)) {
        return FsError::FromSystem(e);
    }
    FsError e = inner.OpenFileAt(dir, name, mode, file);
    if (!e) {
        RememberFile(file, path);
    }
    return e;
}

FsError FakeFileSystem::FileInfo(const FileHandle& file, OpenFileInfo& info) {
    FsError e = CheckFile(FsCall::FileInfo, file);
    return e ? e : inner.FileInfo(file, info);
}

FsError FakeFileSystem::ReadFileData(const FileHandle& file, void* buffer, std::size_t size, std::size_t& read) {
    read = 0;
    FsError e = CheckFile(FsCall::ReadFile, file);
    return e ? e : inner.ReadFileData(file, buffer, size, read);
}

FsError FakeFileSystem::ReadFileDataAt(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                                       std::size_t& read) {
    read = 0;
    FsError e = CheckFile(FsCall::ReadFile, file);
    return e ? e : inner.ReadFileDataAt(file, offset, buffer, size, read);
}

FsError FakeFileSystem::WriteFileData(const FileHandle& file, const void* data, std::size_t size,
                                      std::size_t& written) {
    written = 0;
    FsError e = CheckFile(FsCall::WriteFile, file);
    if (!e) {
        return inner.WriteFileData(file, data, size, written);
    }
    // A torn write: the first half reaches the file before the failure.
    std::size_t half = 0;
    if (size / 2 > 0 && !inner.WriteFileData(file, data, size / 2, half)) {
        written = half;
    }
    return e;
}

FsError FakeFileSystem::SeekFile(const FileHandle& file, std::int64_t offset, SeekOrigin origin,
                                 std::uint64_t& position) {
    FsError e = CheckFile(FsCall::SeekFile, file);
    return e ? e : inner.SeekFile(file, offset, origin, position);
}

FsError FakeFileSystem::TruncateFile(const FileHandle& file, std::uint64_t length) {
    FsError e = CheckFile(FsCall::TruncateFile, file);
    return e ? e : inner.TruncateFile(file, length);
}

FsError FakeFileSystem::SetFileMode(const FileHandle& file, std::uint32_t mode) {
    FsError e = CheckFile(FsCall::SetFileMode, file);
    return e ? e : inner.SetFileMode(file, mode);
}

FsError FakeFileSystem::SyncFile(const FileHandle& file) {
    FsError e = CheckFile(FsCall::SyncFile, file);
    return e ? e : inner.SyncFile(file);
}

FsError FakeFileSystem::CloseFile(FileHandle& file) {
    FsError e = CheckFile(FsCall::CloseFile, file);
    {
        std::lock_guard<std::mutex> lock(mutex);
        filePaths.erase(file.Native());
    }
    FsError closed = inner.CloseFile(file);
    return e ? e : closed;
}

FsError FakeFileSystem::LockWholeFile(const FileHandle& file, bool wait) {
    FsError e = CheckFile(FsCall::LockFile, file);
    return e ? e : inner.LockWholeFile(file, wait);
}

FsError FakeFileSystem::UnlockWholeFile(const FileHandle& file) {
    FsError e = CheckFile(FsCall::UnlockFile, file);
    return e ? e : inner.UnlockWholeFile(file);
}

FsError FakeFileSystem::RenameFile(const std::string& from, const std::string& to) {
    RecordChange(from);
    RecordChange(to);
    if (int e = CountAndCheck(FsCall::RenameFile, from)) {
        return FsError::FromSystem(e);
    }
    return inner.RenameFile(from, to);
}

FsError FakeFileSystem::SyncDirectory(const std::string& path) {
    if (int e = CountAndCheck(FsCall::SyncDirectory, path)) {
        return FsError::FromSystem(e);
    }
    return inner.SyncDirectory(path);
}

FsError FakeFileSystem::MakeDirectoryWithMode(const std::string& path, std::uint32_t mode) {
    RecordChange(path);
    if (int e = CountAndCheck(FsCall::MakeDirectoryWithMode, path)) {
        return FsError::FromSystem(e);
    }
    return inner.MakeDirectoryWithMode(path, mode);
}

// ---- Owners ----

FsError FakeFileSystem::SetOwnerAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                                   std::uint32_t owner, std::uint32_t group) {
    const std::string path = PathIn(dir, name);
    RecordChange(path);
    int e = CountAndCheck(FsCall::SetOwner, path);
    return e != 0 ? FsError::FromSystem(e) : inner.SetOwnerAt(dir, name, expected, owner, group);
}

bool FakeFileSystem::MayGiveAway() {
    return inner.MayGiveAway();
}

bool FakeFileSystem::MayUseGroup(std::uint32_t group) {
    return inner.MayUseGroup(group);
}

FsError FakeFileSystem::DirectoryStatus(const DirectoryHandle& dir, FileStatus& status) {
    int e = CountAndCheck(FsCall::Status, PathIn(dir, ""));
    return e != 0 ? FsError::FromSystem(e) : inner.DirectoryStatus(dir, status);
}

FsError FakeFileSystem::DuplicateDirectory(const DirectoryHandle& dir, DirectoryHandle& copy) {
    const std::string path = PathIn(dir, "");
    int e = CountAndCheck(FsCall::DuplicateDirectory, path);
    if (e != 0) {
        return FsError::FromSystem(e);
    }
    FsError error = inner.DuplicateDirectory(dir, copy);
    if (!error) {
        Remember(copy, path);
    }
    return error;
}
