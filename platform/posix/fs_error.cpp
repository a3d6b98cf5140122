#include "platform/fs_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

ErrorKind KindOfSystemError(int code) {
    switch (code) {
    case 0:
        return ErrorKind::None;
    case ENOENT:
        return ErrorKind::NotFound;
    case ENOTDIR:
        return ErrorKind::NotADirectory;
    case EISDIR:
        return ErrorKind::IsADirectory;
    case ELOOP:
        return ErrorKind::IsALink;
    case EACCES:
    case EPERM:
        return ErrorKind::AccessDenied;
    case EEXIST:
        return ErrorKind::Exists;
    case ENOTEMPTY:
        return ErrorKind::NotEmpty;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrorKind::NoSpace;
    case ENAMETOOLONG:
        return ErrorKind::NameTooLong;
    case EROFS:
        return ErrorKind::ReadOnly;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return ErrorKind::Busy;
    case EINTR:
        return ErrorKind::Interrupted;
    case ENOTSUP:
    case ENOSYS:
        return ErrorKind::NotSupported;
    case EXDEV:
        return ErrorKind::CrossDevice;
    case EMFILE:
    case ENFILE:
        return ErrorKind::TooManyOpen;
    case ESTALE:
        return ErrorKind::Replaced;
    case EIO:
    case ENXIO:
    case ENODEV:
        return ErrorKind::DeviceFault;
    case EDEADLK:
    case ENOLCK:
        return ErrorKind::LockFailed;
    case EBADF:
        return ErrorKind::BadHandle;
    default:
        return ErrorKind::Other;
    }
}

bool MayBeRefusedName(const FsError& error) {
    // FAT through FUSE refuses with EPERM, exFAT with ENOENT, NTFS and the kernel's FAT with EINVAL.
    return error.code == EINVAL || error.code == ENOENT || error.code == EPERM;
}

int SystemCodeOfKind(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::None:
        return 0;
    case ErrorKind::NotFound:
        return ENOENT;
    case ErrorKind::NotADirectory:
        return ENOTDIR;
    case ErrorKind::IsADirectory:
        return EISDIR;
    case ErrorKind::IsALink:
        return ELOOP;
    case ErrorKind::AccessDenied:
        return EACCES;
    case ErrorKind::Exists:
        return EEXIST;
    case ErrorKind::NotEmpty:
        return ENOTEMPTY;
    case ErrorKind::NoSpace:
        return ENOSPC;
    case ErrorKind::NameTooLong:
        return ENAMETOOLONG;
    case ErrorKind::ReadOnly:
        return EROFS;
    case ErrorKind::Busy:
        return EBUSY;
    case ErrorKind::Interrupted:
        return EINTR;
    case ErrorKind::NotSupported:
        return ENOTSUP;
    case ErrorKind::CrossDevice:
        return EXDEV;
    case ErrorKind::TooManyOpen:
        return EMFILE;
    case ErrorKind::Replaced:
        return ESTALE;
    case ErrorKind::LockFailed:
        return ENOLCK;
    case ErrorKind::BadHandle:
        return EBADF;
    case ErrorKind::DeviceFault:
    case ErrorKind::Other:
        break;
    }
    return EIO;
}

std::string ErrorText(std::uint32_t code) {
    char buffer[256];
    const int savedErrno = errno;
    // The GNU strerror_r returns its text, which may or may not live in the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    errno = savedErrno;
    std::string result = text ? text : "";
    // glibc answers an unknown code with a made-up "Unknown error N": that is no text.
    if (result.empty() || result.rfind("Unknown error", 0) == 0) {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "Unknown error code %08x (%d)", code,
                      static_cast<int>(code & 0xFFFFu));
        return fallback;
    }
    const std::size_t cr = result.rfind('\r');
    if (cr != std::string::npos) {
        result.erase(cr);
    }
    return result;
}
