#include "platform/fs_error.h"

#include <cerrno>

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
    default:
        return ErrorKind::Other;
    }
}
