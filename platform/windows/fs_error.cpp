// The portable kinds of Win32 error codes (GetLastError), and the system's text for a code.
#include <windows.h>

#include <cstdio>

#include "platform/fs_error.h"
#include "platform/windows/wtf8.h"

namespace {

// Codes the cross headers may lack.
constexpr DWORD kDirectoryNotSupported = 336; // ERROR_DIRECTORY_NOT_SUPPORTED
constexpr DWORD kStoppedOnSymlink = 681;      // ERROR_STOPPED_ON_SYMLINK
constexpr DWORD kDiskQuotaExceeded = 1295;    // ERROR_DISK_QUOTA_EXCEEDED

} // namespace

ErrorKind KindOfSystemError(int code) {
    switch (static_cast<DWORD>(code)) {
    case ERROR_SUCCESS:
        return ErrorKind::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DELETE_PENDING:
        return ErrorKind::NotFound;
    case ERROR_DIRECTORY:
        return ErrorKind::NotADirectory;
    case kDirectoryNotSupported:
        return ErrorKind::IsADirectory;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
    case kStoppedOnSymlink:
        return ErrorKind::IsALink;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_EA_ACCESS_DENIED:
        return ErrorKind::AccessDenied;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return ErrorKind::Exists;
    case ERROR_DIR_NOT_EMPTY:
        return ErrorKind::NotEmpty;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
        return ErrorKind::NoSpace;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ErrorKind::NameTooLong;
    case ERROR_WRITE_PROTECT:
        return ErrorKind::ReadOnly;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case ERROR_USER_MAPPED_FILE:
        return ErrorKind::Busy;
    case ERROR_OPERATION_ABORTED:
    case ERROR_REQUEST_ABORTED:
        return ErrorKind::Interrupted;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_INVALID_FUNCTION:
        return ErrorKind::NotSupported;
    case ERROR_NOT_SAME_DEVICE:
        return ErrorKind::CrossDevice;
    case ERROR_TOO_MANY_OPEN_FILES:
        return ErrorKind::TooManyOpen;
    case ERROR_FILE_INVALID:
        return ErrorKind::Replaced;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_IO_DEVICE:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
        return ErrorKind::DeviceFault;
    case ERROR_POSSIBLE_DEADLOCK:
    case ERROR_NOT_LOCKED:
        return ErrorKind::LockFailed;
    case ERROR_INVALID_HANDLE:
        return ErrorKind::BadHandle;
    default:
        return ErrorKind::Other;
    }
}

bool MayBeRefusedName(const FsError& error) {
    switch (static_cast<DWORD>(error.code)) {
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

int SystemCodeOfKind(ErrorKind kind) {
    DWORD code = ERROR_GEN_FAILURE;
    switch (kind) {
    case ErrorKind::None:
        code = ERROR_SUCCESS;
        break;
    case ErrorKind::NotFound:
        code = ERROR_FILE_NOT_FOUND;
        break;
    case ErrorKind::NotADirectory:
        code = ERROR_DIRECTORY;
        break;
    case ErrorKind::IsADirectory:
        code = kDirectoryNotSupported;
        break;
    case ErrorKind::IsALink:
        code = kStoppedOnSymlink;
        break;
    case ErrorKind::AccessDenied:
        code = ERROR_ACCESS_DENIED;
        break;
    case ErrorKind::Exists:
        code = ERROR_ALREADY_EXISTS;
        break;
    case ErrorKind::NotEmpty:
        code = ERROR_DIR_NOT_EMPTY;
        break;
    case ErrorKind::NoSpace:
        code = ERROR_DISK_FULL;
        break;
    case ErrorKind::NameTooLong:
        code = ERROR_FILENAME_EXCED_RANGE;
        break;
    case ErrorKind::ReadOnly:
        code = ERROR_WRITE_PROTECT;
        break;
    case ErrorKind::Busy:
        code = ERROR_SHARING_VIOLATION;
        break;
    case ErrorKind::Interrupted:
        code = ERROR_OPERATION_ABORTED;
        break;
    case ErrorKind::NotSupported:
        code = ERROR_NOT_SUPPORTED;
        break;
    case ErrorKind::CrossDevice:
        code = ERROR_NOT_SAME_DEVICE;
        break;
    case ErrorKind::TooManyOpen:
        code = ERROR_TOO_MANY_OPEN_FILES;
        break;
    case ErrorKind::Replaced:
        code = ERROR_FILE_INVALID;
        break;
    case ErrorKind::LockFailed:
        code = ERROR_NOT_LOCKED;
        break;
    case ErrorKind::BadHandle:
        code = ERROR_INVALID_HANDLE;
        break;
    case ErrorKind::DeviceFault:
    case ErrorKind::Other:
        break;
    }
    return static_cast<int>(code);
}

std::string ErrorText(std::uint32_t code) {
    const DWORD savedError = ::GetLastError();
    wchar_t* buffer = nullptr;
    // The buffer's address is passed in its place, as FORMAT_MESSAGE_ALLOCATE_BUFFER wants.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string result = length != 0 && buffer != nullptr ? Wtf8FromWide(std::wstring_view(buffer, length)) : "";
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    ::SetLastError(savedError);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    if (result.empty()) {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "Unknown error code %08x (%d)", code,
                      static_cast<int>(code & 0xFFFFu));
        return fallback;
    }
    return result;
}
