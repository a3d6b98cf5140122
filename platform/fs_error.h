// The portable kind of a failed file-system call. The layers above decide on the kind; the raw
// system code is kept only so that messages can quote the system's own text and number.
#pragma once

#include <cstdint>
#include <string>

enum class ErrorKind {
    None,     // success
    NotFound, // nothing has the name, or a component on the way is missing
    NotADirectory,
    IsADirectory,
    IsALink,      // refused because the name is a symbolic link
    AccessDenied, // permissions, read-only attributes or the system refused
    Exists,
    NotEmpty,
    NoSpace, // the device, the quota or the largest file size is reached
    NameTooLong,
    ReadOnly, // the file system is mounted read-only
    Busy,     // held by another opener
    Interrupted,
    NotSupported,
    CrossDevice,
    TooManyOpen,
    Replaced,    // the name holds another file than the one it was found to hold
    DeviceFault, // the device failed to read or write, or is gone
    LockFailed,  // no lock can be had (none kept there, or it would deadlock)
    BadHandle,   // the handle is not open
    Other,
};

// Maps a raw system error code (errno here, GetLastError elsewhere) to its kind.
ErrorKind KindOfSystemError(int code);
// The system's usual code for a kind, for failures found without a system call (a directory that
// could not be reached, a path too long to try), so that their messages read as the system's.
int SystemCodeOfKind(ErrorKind kind);
// The system's own text for a raw code, without its trailing line break; a code the system does
// not know reads "Unknown error code <hex> (<low 16 bits>)".
std::string ErrorText(std::uint32_t code);

struct FsError {
    ErrorKind kind = ErrorKind::None;
    int code = 0; // the raw system code, 0 on success

    static FsError FromSystem(int systemCode) { return FsError{KindOfSystemError(systemCode), systemCode}; }
    static FsError OfKind(ErrorKind kind) { return FsError{kind, SystemCodeOfKind(kind)}; }
    bool Failed() const { return kind != ErrorKind::None; }
    explicit operator bool() const { return Failed(); }
    bool Is(ErrorKind other) const { return kind == other; }
};

// Whether a failure to create a name is of the kind a file system gives for a name it does not
// hold (an invalid argument, a missing name, a refusal), and so may be that refusal.
bool MayBeRefusedName(const FsError& error);
