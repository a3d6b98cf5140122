// The path conveniences of IFileSystem, built on its operations relative to a directory.
#include "platform/file_system.h"

#include <cerrno>

FsError IFileSystem::OpenParent(const std::string& path, DirectoryHandle& parent, std::string& name) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == kPathSeparator) {
        --end;
    }
    std::size_t sep = path.rfind(kPathSeparator, end == 0 ? 0 : end - 1);
    std::string directory;
    if (sep == std::string::npos) {
        directory = ".";
        name = path.substr(0, end);
    } else {
        directory = sep == 0 ? std::string(1, kPathSeparator) : path.substr(0, sep);
        name = path.substr(sep + 1, end - sep - 1);
    }
    if (name.empty() || name == "." || name == "..") {
        return FsError::FromSystem(EINVAL);
    }
    return OpenDirectoryPath(directory, true, parent);
}

std::unique_ptr<IDirectoryStream> IFileSystem::OpenDirectory(const std::string& path, bool followLink, FsError& error) {
    DirectoryHandle dir;
    error = OpenDirectoryPath(path, followLink, dir);
    if (error) {
        return nullptr;
    }
    return ListDirectory(dir, error);
}

FsError IFileSystem::RemoveFile(const std::string& path) {
    DirectoryHandle parent;
    std::string name;
    FsError e = OpenParent(path, parent, name);
    return e ? e : RemoveFileAt(parent, name);
}

FsError IFileSystem::RemoveEmptyDirectory(const std::string& path) {
    DirectoryHandle parent;
    std::string name;
    FsError e = OpenParent(path, parent, name);
    return e ? e : RemoveDirectoryAt(parent, name);
}

FsError IFileSystem::SetNormalAttributes(const std::string& path) {
    DirectoryHandle parent;
    std::string name;
    FsError e = OpenParent(path, parent, name);
    return e ? e : SetNormalAttributesAt(parent, name);
}

CopyResult IFileSystem::CopyFileContent(const std::string& source, const std::string& destination,
                                        const CopyProgressFn& progress, const std::atomic<int>* cancel) {
    DirectoryHandle sourceDir;
    std::string sourceName;
    FsError e = OpenParent(source, sourceDir, sourceName);
    if (e) {
        return CopyResult{CopyOutcome::Failed, e};
    }
    DirectoryHandle destinationDir;
    std::string destinationName;
    e = OpenParent(destination, destinationDir, destinationName);
    if (e) {
        return CopyResult{CopyOutcome::Failed, e};
    }
    return CopyFileAt(sourceDir, sourceName, destinationDir, destinationName, progress, cancel);
}

CopyResult IFileSystem::CopyFileAt(const DirectoryHandle& sourceDir, const std::string& sourceName,
                                   const DirectoryHandle& destinationDir, const std::string& destinationName,
                                   const CopyProgressFn& progress, const std::atomic<int>* cancel) {
    FileHandle source;
    if (FsError e = OpenCopySourceAt(sourceDir, sourceName, FileIdentity{}, true, source)) {
        return CopyResult{CopyOutcome::Failed, e};
    }
    return CopyOpenFileAt(source, destinationDir, destinationName, progress, cancel);
}

FsError IFileSystem::CheckLockedAt(const DirectoryHandle& dir, const std::string& name, bool& locked) {
    FileHandle source;
    // A file that cannot be opened is refused as a locked one would be.
    locked = static_cast<bool>(OpenCopySourceAt(dir, name, FileIdentity{}, false, source));
    return locked ? FsError() : CheckOpenFileLocked(source, locked);
}

FsError IFileSystem::CheckLocked(const std::string& path, bool& locked) {
    locked = false;
    DirectoryHandle parent;
    std::string name;
    FsError e = OpenParent(path, parent, name);
    return e ? e : CheckLockedAt(parent, name, locked);
}

FsError IFileSystem::ReplaceWithLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target,
                                       std::int64_t seconds, std::int64_t nanoseconds) {
    std::string temp;
    FsError e = FsError::OfKind(ErrorKind::Exists);
    for (int attempt = 0; attempt < 100 && e.Is(ErrorKind::Exists); ++attempt) {
        temp = NewTemporaryCopyName();
        e = MakeLinkAt(dir, temp, target);
    }
    if (e) {
        return e;
    }
    // Where the file system keeps no time for links, the link is still right.
    SetLinkTimeAt(dir, temp, seconds, nanoseconds);
    e = RenameAt(dir, temp, name);
    if (e) {
        RemoveFileAt(dir, temp);
    }
    return e;
}
