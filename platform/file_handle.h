// The open files of IFileSystem's write side: jobs, settings, logs and locks the program keeps
// itself, as opposed to the user's trees the engine mirrors.
#pragma once

#include <cstdint>

#include "platform/fs_error.h"

// An open file. Move-only; closed when destroyed, with any error of that close lost (call
// IFileSystem::CloseFile to see it).
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(std::intptr_t native) : native_(native) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : native_(other.native_) { other.native_ = kNone; }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            native_ = other.native_;
            other.native_ = kNone;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return native_ != kNone; }
    std::intptr_t Native() const { return native_; }
    // Gives up the native handle without closing it.
    std::intptr_t Release() {
        const std::intptr_t native = native_;
        native_ = kNone;
        return native;
    }
    // Defined by the platform's backend.
    void Close();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t native_ = kNone;
};

enum class FileAccess { Read, Write, ReadWrite };

struct FileOpenMode {
    FileAccess access = FileAccess::Read;
    // Creates the file when missing (permissions createMode less the umask). Never truncates.
    bool create = false;
    std::uint32_t createMode = 0666;
    // With create: fails with Exists when anything has the name, a link included.
    bool exclusive = false;
    // Refuses a link as the last component.
    bool noFollow = false;
    // Does not wait for the other end of a fifo or a device.
    bool nonBlocking = false;
    // Refuses anything but a regular file (NotSupported), without waiting on a fifo or device.
    bool regularOnly = false;
};

enum class SeekOrigin { Begin, Current, End };

struct OpenFileInfo {
    std::uint64_t size = 0;
    std::uint32_t mode = 0; // permission bits only
    bool regular = false;
    bool ownedByUser = false; // belongs to the user the program runs as
};

// The results of the file system's calls that give a raw code (0 on success) as FsError, so
// that callers read either form alike.
inline FsError AsFsError(FsError error) {
    return error;
}
inline FsError AsFsError(int systemCode) {
    return systemCode == 0 ? FsError{} : FsError::FromSystem(systemCode);
}
