// The Win32 backend of IFileSystem: levels opened relative to their parent's handle, listings,
// status by handle, and the copy through a temporary file renamed over the destination. No
// reparse point (link, junction, mount point) met below an opened directory is ever followed.
#include <aclapi.h>
#include <ntsecapi.h>
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/windows/wtf8.h"

namespace {

// ---- ntdll: the calls that take a directory handle as the root of a name ------------------

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

struct NtCalls {
    NtCreateFileFn createFile = nullptr;
    NtQueryDirectoryFileFn queryDirectory = nullptr;
    NtSetInformationFileFn setInformation = nullptr;
    RtlNtStatusToDosErrorFn toDosError = nullptr;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    // Through the generic function type, which converts to any other without a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

const NtCalls& Nt() {
    static const NtCalls calls = [] {
        NtCalls c;
        HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        if (ntdll != nullptr) {
            c.createFile = Lookup<NtCreateFileFn>(ntdll, "NtCreateFile");
            c.queryDirectory = Lookup<NtQueryDirectoryFileFn>(ntdll, "NtQueryDirectoryFile");
            c.setInformation = Lookup<NtSetInformationFileFn>(ntdll, "NtSetInformationFile");
            c.toDosError = Lookup<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
        }
        return c;
    }();
    return calls;
}

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::uint64_t kEpochAsFileTime = 116444736000000000ull; // 1970-01-01 in 100 ns units since 1601

FsError Error(DWORD code) {
    return FsError::FromSystem(static_cast<int>(code));
}

FsError LastError() {
    return Error(::GetLastError());
}

FsError StatusError(NTSTATUS status) {
    const NtCalls& nt = Nt();
    return Error(nt.toDosError != nullptr ? nt.toDosError(status) : ERROR_GEN_FAILURE);
}

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.Release()) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = other.Release();
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void Reset() {
        if (Valid()) {
            ::CloseHandle(h_);
        }
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

HANDLE HandleOf(const DirectoryHandle& dir) {
    return reinterpret_cast<HANDLE>(dir.Native());
}

HANDLE HandleOf(const FileHandle& file) {
    return reinterpret_cast<HANDLE>(file.Native());
}

// Whether a path names a place only once "." and ".." are resolved, which a \\?\ path never is.
bool HasDotComponent(const std::wstring& path) {
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(L'\\', begin);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        const std::wstring_view part(path.data() + begin, end - begin);
        if (part == L"." || part == L"..") {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

// The form a path takes at a system call: \\?\ or \\?\UNC\ before an absolute path, so that
// no length limit and no rewriting of trailing dots or spaces applies. A relative path, or one
// with "." or ".." in it, is first made absolute by the system's rules.
std::wstring SystemPath(const std::string& path) {
    std::wstring wide = WideFromWtf8(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) {
        return wide;
    }
    const bool drive = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
    const bool unc = wide.rfind(L"\\\\", 0) == 0;
    if ((!drive && !unc) || HasDotComponent(wide)) {
        const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        std::wstring full(need, L'\0');
        const DWORD got = need == 0 ? 0 : ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
        if (got == 0 || got >= need) {
            return wide;
        }
        full.resize(got);
        wide = std::move(full);
    }
    return wide.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + wide.substr(2) : L"\\\\?\\" + wide;
}

// A path longer than the counted strings the system passes names in is refused here: handed on,
// its length could be cut down to what those hold, naming another file.
FsError CheckLength(const std::string& path) {
    constexpr std::size_t kLongestName = 32767; // wide characters, prefix included
    return SystemPath(path).size() > kLongestName ? FsError::OfKind(ErrorKind::NameTooLong) : FsError();
}

// One component: nothing that would let a relative open climb or descend.
bool IsOneComponent(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/") == std::wstring::npos;
}

// Opens name relative to root (an empty name or "." reopens root itself), never asking for more
// than access. Reparse points are opened as themselves when options hold FILE_OPEN_REPARSE_POINT.
FsError OpenRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG disposition, ULONG options,
                     ULONG share, HANDLE& out, ULONG attributes = FILE_ATTRIBUTE_NORMAL) {
    const NtCalls& nt = Nt();
    if (nt.createFile == nullptr) {
        return Error(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (!name.empty() && name != L"." && !IsOneComponent(name)) {
        return Error(ERROR_INVALID_NAME);
    }
    if (name.size() * sizeof(wchar_t) > 0xFFFE) {
        return Error(ERROR_FILENAME_EXCED_RANGE);
    }
    // "." is the root itself, as a relative open with no name gives it.
    const std::size_t length = name == L"." ? 0 : name.size();
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &objectName, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        nt.createFile(&h, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
    if (status < 0) {
        return StatusError(status);
    }
    out = h;
    return {};
}

FsError OpenAt(const DirectoryHandle& dir, const std::string& name, ACCESS_MASK access, ULONG options,
               UniqueHandle& out) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (FsError e = OpenRelative(HandleOf(dir), WideFromWtf8(name), access, FILE_OPEN, options, kShareAll, h)) {
        return e;
    }
    out = UniqueHandle(h);
    return {};
}

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

void FromFileTime(std::int64_t ticks, std::int64_t& seconds, std::int64_t& nanoseconds) {
    const std::int64_t sinceEpoch = ticks - static_cast<std::int64_t>(kEpochAsFileTime);
    seconds = FloorDivide(sinceEpoch, 10000000);
    nanoseconds = (sinceEpoch - seconds * 10000000) * 100;
}

std::int64_t ToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
    return static_cast<std::int64_t>(kEpochAsFileTime) + seconds * 10000000 + nanoseconds / 100;
}

std::int64_t TicksOf(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

EntryKind KindOfAttributes(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return EntryKind::Symlink;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryKind::Directory;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::Other : EntryKind::File;
}

// The permission bits this system can tell: the read-only attribute is the owner's write bit.
std::uint32_t ModeOfAttributes(DWORD attributes) {
    std::uint32_t mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? mode | 0111 : mode;
}

void FillStatus(const BY_HANDLE_FILE_INFORMATION& info, FileStatus& status) {
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    FromFileTime(TicksOf(info.ftLastWriteTime), status.mtimeSeconds, status.mtimeNanoseconds);
    status.mode = ModeOfAttributes(info.dwFileAttributes);
    status.kind = KindOfAttributes(info.dwFileAttributes);
    status.hidden = (info.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    status.system = (info.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    status.owner = 0;
    status.group = 0;
    status.device = info.dwVolumeSerialNumber;
    status.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

FsError InfoOf(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return ::GetFileInformationByHandle(h, &info) ? FsError() : LastError();
}

FsError StatusOfHandle(HANDLE h, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (FsError e = InfoOf(h, info)) {
        return e;
    }
    FillStatus(info, status);
    return {};
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& info, const FileIdentity& identity) {
    return info.dwVolumeSerialNumber == identity.device &&
           ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) == identity.inode;
}

FsError SetBasic(HANDLE h, std::int64_t accessTicks, std::int64_t writeTicks, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    basic.LastAccessTime.QuadPart = accessTicks; // 0 leaves a time as it is
    basic.LastWriteTime.QuadPart = writeTicks;
    basic.FileAttributes = attributes;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) ? FsError() : LastError();
}

FsError MarkDeleted(HANDLE h) {
    // The name goes at once, even while another program still has the file open, where the
    // system can; else when the last handle closes.
    struct {
        ULONG Flags;
    } posix{0x1 | 0x2}; // FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
    constexpr auto kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21); // FileDispositionInfoEx
    if (::SetFileInformationByHandle(h, kDispositionEx, &posix, sizeof posix)) {
        return {};
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_INVALID_PARAMETER && code != ERROR_NOT_SUPPORTED && code != ERROR_INVALID_FUNCTION &&
        code != ERROR_CALL_NOT_IMPLEMENTED) {
        return Error(code);
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) ? FsError()
                                                                                                  : LastError();
}

// Renames the open file to name in dir, replacing what has that name.
FsError RenameHandle(HANDLE file, HANDLE dir, const std::wstring& name, bool replace = true) {
    const NtCalls& nt = Nt();
    if (nt.setInformation == nullptr) {
        return Error(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (!IsOneComponent(name)) {
        return Error(ERROR_INVALID_NAME);
    }
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + bytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = dir;
    rename->FileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(rename->FileName, name.data(), bytes);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        nt.setInformation(file, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    return status < 0 ? StatusError(status) : FsError();
}

// A new file of the temporary-copy form in dir, open for writing, renaming and deleting.
FsError CreateTemporaryAt(const DirectoryHandle& dir, std::string& name, UniqueHandle& out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NewTemporaryCopyName();
        HANDLE h = INVALID_HANDLE_VALUE;
        const FsError e = OpenRelative(HandleOf(dir), WideFromWtf8(name),
                                       GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       FILE_CREATE, FILE_NON_DIRECTORY_FILE, FILE_SHARE_READ | FILE_SHARE_DELETE, h);
        if (!e) {
            out = UniqueHandle(h);
            return {};
        }
        if (!e.Is(ErrorKind::Exists)) {
            return e;
        }
    }
    return Error(ERROR_FILE_EXISTS);
}

// Removes a temporary file through its own handle, read-only attribute or not.
void DiscardTemporary(UniqueHandle& temp) {
    (void)SetBasic(temp.Get(), 0, 0, FILE_ATTRIBUTE_NORMAL);
    (void)MarkDeleted(temp.Get());
    temp.Reset();
}

// The same file as open, opened once more with other rights. The program's own handle on a
// copy source asks for no data access, so that this open can ask that nobody else has any.
FsError Reopen(HANDLE open, ACCESS_MASK access, ULONG share, ULONG options, UniqueHandle& out) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (FsError e = OpenRelative(open, std::wstring(), access, FILE_OPEN, options, share, h)) {
        return e;
    }
    out = UniqueHandle(h);
    return {};
}

struct SourceLook {
    std::int64_t size = 0;
    std::int64_t lastWrite = 0;
    std::int64_t change = 0;
    std::int64_t lastAccess = 0;
    DWORD attributes = 0;
};

FsError Look(HANDLE h, SourceLook& look) {
    FILE_BASIC_INFO basic{};
    LARGE_INTEGER size{};
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) || !::GetFileSizeEx(h, &size)) {
        return LastError();
    }
    look.size = size.QuadPart;
    look.lastWrite = basic.LastWriteTime.QuadPart;
    look.change = basic.ChangeTime.QuadPart;
    look.lastAccess = basic.LastAccessTime.QuadPart;
    look.attributes = basic.FileAttributes;
    return {};
}

constexpr DWORD kChunk = 1 << 20;

bool Cancelled(const std::atomic<int>* cancel) {
    return cancel != nullptr && cancel->load() != 0;
}

// Moves the bytes of in to out, chunk by chunk; ERROR_REQUEST_ABORTED when cancelled. The
// length the file had when the copy began is what is copied, so that a file written without end
// cannot hold the copy; only a file that claims to be empty is read until its end.
DWORD CopyBytes(HANDLE in, HANDLE out, std::uint64_t total, const CopyProgressFn& progress,
                const std::atomic<int>* cancel) {
    std::vector<char> buffer(kChunk);
    std::uint64_t moved = 0;
    for (;;) {
        if (Cancelled(cancel)) {
            return ERROR_REQUEST_ABORTED;
        }
        if (total != 0 && moved >= total) {
            return ERROR_SUCCESS;
        }
        const DWORD want = total == 0 ? kChunk : static_cast<DWORD>(std::min<std::uint64_t>(kChunk, total - moved));
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), want, &got, nullptr)) {
            return ::GetLastError();
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        DWORD written = 0;
        while (written < got) {
            DWORD n = 0;
            if (!::WriteFile(out, buffer.data() + written, got - written, &n, nullptr)) {
                return ::GetLastError();
            }
            written += n;
        }
        moved += got;
        if (progress) {
            progress(total, moved);
        }
    }
}

class WinDirectoryStream : public IDirectoryStream {
public:
    explicit WinDirectoryStream(HANDLE dir) : dir_(dir), buffer_(64 * 1024) {}

    bool Next(DirEntry& entry) override {
        for (;;) {
            if (offset_ == kEmpty && !Fill()) {
                return false;
            }
            const auto* info = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer_.data() + offset_);
            offset_ = info->NextEntryOffset == 0 ? kEmpty : offset_ + info->NextEntryOffset;
            const std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name == L"." || name == L"..") {
                continue;
            }
            entry.name = Wtf8FromWide(name);
            entry.kind = KindOfAttributes(info->FileAttributes);
            entry.hidden = (info->FileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
            entry.system = (info->FileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
            return true;
        }
    }

    FsError Error() const override { return error_; }

private:
    static constexpr std::size_t kEmpty = static_cast<std::size_t>(-1);

    bool Fill() {
        if (ended_) {
            return false;
        }
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = Nt().queryDirectory(dir_.Get(), nullptr, nullptr, nullptr, &io, buffer_.data(),
                                                    static_cast<ULONG>(buffer_.size()), FileDirectoryInformation, FALSE,
                                                    nullptr, first_ ? TRUE : FALSE);
        first_ = false;
        if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) {
            ended_ = true;
            return false;
        }
        if (status < 0) {
            ended_ = true;
            error_ = StatusError(status);
            return false;
        }
        if (io.Information == 0) {
            ended_ = true;
            return false;
        }
        offset_ = 0;
        return true;
    }

    UniqueHandle dir_;
    std::vector<unsigned char> buffer_;
    std::size_t offset_ = kEmpty;
    bool first_ = true;
    bool ended_ = false;
    FsError error_;
};

// The entry name in dir itself, never through a reparse point, if it is the expected file (any
// entry when no identity is known). A file with other names is refused: they may lie outside
// the tree, and would change with it.
FsError OpenEntry(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected, ACCESS_MASK access,
                  UniqueHandle& out, BY_HANDLE_FILE_INFORMATION& info) {
    if (FsError e = OpenAt(dir, name, access, FILE_OPEN_REPARSE_POINT, out)) {
        return e;
    }
    if (FsError e = InfoOf(out.Get(), info)) {
        return e;
    }
    if (expected.Known() && !SameFile(info, expected)) {
        return FsError::OfKind(ErrorKind::Replaced);
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks <= 1
               ? FsError()
               : Error(ERROR_TOO_MANY_LINKS);
}

// The path the system gives an open directory, in its \\?\ form.
FsError FinalPathOf(HANDLE h, std::wstring& path) {
    std::wstring buffer(512, L'\0');
    for (;;) {
        const DWORD got = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (got == 0) {
            return LastError();
        }
        if (got < buffer.size()) {
            buffer.resize(got);
            path = std::move(buffer);
            return {};
        }
        buffer.resize(got + 1);
    }
}

// Takes the long-path prefix off a final path, for the user's eyes.
std::string PlainPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return Wtf8FromWide(L"\\\\" + path.substr(8));
    }
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        return Wtf8FromWide(path.substr(4));
    }
    return Wtf8FromWide(path);
}

// The reparse data of links and junctions, as the file system hands it out.
struct ReparseData {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
    // Links have a flags word here that junctions lack; then the names.
    ULONG Flags;
};

FsError ReadReparseTarget(HANDLE h, std::string& target) {
    std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!::DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                           &got, nullptr)) {
        return LastError();
    }
    const auto* data = reinterpret_cast<const ReparseData*>(buffer.data());
    const wchar_t* pathBuffer = nullptr;
    if (data->ReparseTag == IO_REPARSE_TAG_SYMLINK) {
        pathBuffer = reinterpret_cast<const wchar_t*>(buffer.data() + sizeof(ReparseData));
    } else if (data->ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
        pathBuffer = reinterpret_cast<const wchar_t*>(buffer.data() + offsetof(ReparseData, Flags));
    } else {
        return Error(ERROR_NOT_SUPPORTED);
    }
    const std::size_t printOffset = data->PrintNameOffset;
    const std::size_t printLength = data->PrintNameLength;
    const std::size_t substituteOffset = data->SubstituteNameOffset;
    const std::size_t substituteLength = data->SubstituteNameLength;
    const std::size_t room =
        got - static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(pathBuffer) - buffer.data());
    if (printOffset + printLength > room || substituteOffset + substituteLength > room) {
        return Error(ERROR_INVALID_DATA);
    }
    // The printed name is the text the link was made with; the substitute is the system's form.
    std::wstring text(pathBuffer + printOffset / sizeof(wchar_t), printLength / sizeof(wchar_t));
    if (text.empty()) {
        text.assign(pathBuffer + substituteOffset / sizeof(wchar_t), substituteLength / sizeof(wchar_t));
        if (text.rfind(L"\\??\\", 0) == 0) {
            text.erase(0, 4);
        }
    }
    target = Wtf8FromWide(text);
    return {};
}

bool IsAbsoluteTarget(const std::wstring& target) {
    return (target.size() >= 2 && target[1] == L':') || target.rfind(L"\\", 0) == 0;
}

bool IsCoarseTimeFileSystem(const std::wstring& name) {
    return _wcsicmp(name.c_str(), L"FAT") == 0 || _wcsicmp(name.c_str(), L"FAT32") == 0 ||
           _wcsicmp(name.c_str(), L"exFAT") == 0 || _wcsicmp(name.c_str(), L"FAT12") == 0 ||
           _wcsicmp(name.c_str(), L"FAT16") == 0;
}

// Whether the current process's user owns the open file (or, for an administrator, the
// Administrators group the system gives the files such a process makes).
bool OwnedByUser(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool owned = false;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        if (size != 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
            owned = ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) != FALSE;
        }
        ::CloseHandle(token);
    }
    if (!owned && ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
        BOOL member = FALSE;
        owned = ::CheckTokenMembership(nullptr, owner, &member) && member;
    }
    ::LocalFree(descriptor);
    return owned;
}

} // namespace

// The random part comes from the system, or from the clock and a counter when that fails.
std::string NewTemporaryCopyName() {
    unsigned char random[kTemporaryCopySuffixLength];
    if (!RtlGenRandom(random, sizeof random)) {
        static std::atomic<std::uint64_t> counter{0};
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        std::uint64_t mix = static_cast<std::uint64_t>(now.QuadPart) ^
                            (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^
                            (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        for (unsigned char& unit : random) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            unit = static_cast<unsigned char>(mix >> 56);
        }
    }
    std::string name(kTemporaryCopyPrefix);
    for (unsigned char unit : random) {
        name.push_back(kTemporaryCopyAlphabet[unit % kTemporaryCopyAlphabet.size()]);
    }
    return name;
}

namespace {

constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

class WinFileSystem : public IFileSystem {
public:
    FsError OpenDirectoryPath(const std::string& path, bool followLink, DirectoryHandle& handle) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        UniqueHandle h(
            ::CreateFileW(SystemPath(path).c_str(), kDirectoryAccess | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
        if (!h.Valid()) {
            return LastError();
        }
        return TakeDirectory(std::move(h), handle);
    }

    FsError OpenDirectoryAt(const DirectoryHandle& parent, const std::string& name, DirectoryHandle& handle) override {
        UniqueHandle h;
        if (FsError e = OpenAt(parent, name, kDirectoryAccess, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return TakeDirectory(std::move(h), handle);
    }

    std::unique_ptr<IDirectoryStream> ListDirectory(const DirectoryHandle& dir, FsError& error) override {
        if (Nt().queryDirectory == nullptr) {
            error = Error(ERROR_CALL_NOT_IMPLEMENTED);
            return nullptr;
        }
        // A fresh open of the directory itself, so the listing has its own position.
        UniqueHandle h;
        error = Reopen(HandleOf(dir), FILE_LIST_DIRECTORY, kShareAll, FILE_DIRECTORY_FILE, h);
        if (error) {
            return nullptr;
        }
        return std::make_unique<WinDirectoryStream>(h.Release());
    }

    FsError Status(const std::string& path, bool followLink, FileStatus& status) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        UniqueHandle h(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                                     nullptr));
        return h.Valid() ? StatusOfHandle(h.Get(), status) : LastError();
    }

    FsError StatusAt(const DirectoryHandle& dir, const std::string& name, bool followLink,
                     FileStatus& status) override {
        UniqueHandle h;
        if (FsError e = OpenAt(dir, name, FILE_READ_ATTRIBUTES, followLink ? 0 : FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return StatusOfHandle(h.Get(), status);
    }

    FsError MakeDirectory(const std::string& path) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        return ::CreateDirectoryW(SystemPath(path).c_str(), nullptr) ? FsError() : LastError();
    }

    FsError MakeDirectoryAt(const DirectoryHandle& dir, const std::string& name) override {
        HANDLE h = INVALID_HANDLE_VALUE;
        FsError e = OpenRelative(HandleOf(dir), WideFromWtf8(name), FILE_LIST_DIRECTORY, FILE_CREATE,
                                 FILE_DIRECTORY_FILE, kShareAll, h);
        UniqueHandle made(h);
        return e;
    }

    // The entry name itself (a link as the link), opened to be removed; "." never is.
    FsError OpenForRemoval(const DirectoryHandle& dir, const std::string& name, UniqueHandle& h,
                           BY_HANDLE_FILE_INFORMATION& info) {
        if (name == ".") {
            return Error(ERROR_INVALID_NAME);
        }
        if (FsError e = OpenAt(dir, name, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return InfoOf(h.Get(), info);
    }

    FsError RemoveFileAt(const DirectoryHandle& dir, const std::string& name) override {
        UniqueHandle h;
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = OpenForRemoval(dir, name, h, info)) {
            return e;
        }
        // A junction or a link to a directory is removed as the link it is.
        if (KindOfAttributes(info.dwFileAttributes) == EntryKind::Directory) {
            return FsError::OfKind(ErrorKind::IsADirectory);
        }
        return MarkDeleted(h.Get());
    }

    FsError RemoveDirectoryAt(const DirectoryHandle& dir, const std::string& name) override {
        UniqueHandle h;
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = OpenForRemoval(dir, name, h, info)) {
            return e;
        }
        if (KindOfAttributes(info.dwFileAttributes) != EntryKind::Directory) {
            return FsError::OfKind(ErrorKind::NotADirectory);
        }
        return MarkDeleted(h.Get());
    }

    FsError SetNormalAttributesAt(const DirectoryHandle& dir, const std::string& name) override {
        UniqueHandle h;
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = OpenAt(dir, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        if (FsError e = InfoOf(h.Get(), info)) {
            return e;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return {};
        }
        const DWORD cleared =
            info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
        return SetBasic(h.Get(), 0, 0, cleared == 0 ? FILE_ATTRIBUTE_NORMAL : cleared);
    }

    FsError SetModeAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                      std::uint32_t mode) override {
        UniqueHandle h;
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = OpenEntry(dir, name, expected, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, h, info)) {
            return e;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return Error(ERROR_NOT_SUPPORTED);
        }
        DWORD attributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        if ((mode & 0200) == 0) {
            attributes |= FILE_ATTRIBUTE_READONLY;
        }
        return SetBasic(h.Get(), 0, 0, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
    }

    FsError RenameAt(const DirectoryHandle& dir, const std::string& from, const std::string& to) override {
        if (from == ".") {
            return Error(ERROR_INVALID_NAME);
        }
        UniqueHandle h;
        if (FsError e = OpenAt(dir, from, DELETE, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return RenameHandle(h.Get(), HandleOf(dir), WideFromWtf8(to));
    }

    FsError MoveAt(const DirectoryHandle& fromDir, const std::string& from, const DirectoryHandle& toDir,
                   const std::string& to) override {
        if (from == ".") {
            return Error(ERROR_INVALID_NAME);
        }
        UniqueHandle h;
        if (FsError e = OpenAt(fromDir, from, DELETE, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return RenameHandle(h.Get(), HandleOf(toDir), WideFromWtf8(to), false);
    }

    FsError ReadLinkAt(const DirectoryHandle& dir, const std::string& name, std::string& target) override {
        UniqueHandle h;
        if (FsError e = OpenAt(dir, name, FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return ReadReparseTarget(h.Get(), target);
    }

    FsError MakeLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target) override {
        const std::wstring wideName = WideFromWtf8(name);
        if (!IsOneComponent(wideName)) {
            return Error(ERROR_INVALID_NAME);
        }
        // The system makes links by path only: the directory's own path, as its handle knows it.
        std::wstring dirPath;
        if (FsError e = FinalPathOf(HandleOf(dir), dirPath)) {
            return e;
        }
        const std::wstring linkPath = dirPath + L"\\" + wideName;
        std::wstring wideTarget = WideFromWtf8(target);
        std::replace(wideTarget.begin(), wideTarget.end(), L'/', L'\\');
        // A link to a directory must say so when it is made; a dangling one is made as a file's.
        const std::wstring resolved =
            SystemPath(IsAbsoluteTarget(wideTarget) ? target : PlainPath(dirPath) + "\\" + Wtf8FromWide(wideTarget));
        const DWORD attributes = ::GetFileAttributesW(resolved.c_str());
        DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                          ? SYMBOLIC_LINK_FLAG_DIRECTORY
                          : 0;
        constexpr DWORD kUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        if (!::CreateSymbolicLinkW(linkPath.c_str(), wideTarget.c_str(), flags | kUnprivileged)) {
            // Systems before developer mode refuse the flag itself.
            if (::GetLastError() != ERROR_INVALID_PARAMETER ||
                !::CreateSymbolicLinkW(linkPath.c_str(), wideTarget.c_str(), flags)) {
                // FAT and exFAT volumes answer that they have no such function.
                const DWORD code = ::GetLastError();
                return code == ERROR_INVALID_FUNCTION ? FsError{ErrorKind::NotSupported, static_cast<int>(code)}
                                                      : Error(code);
            }
        }
        // The path may have come to lead elsewhere since the handle was opened: the link must be
        // found where the handle is.
        UniqueHandle made;
        return OpenAt(dir, name, FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, made);
    }

    FsError SetLinkTimeAt(const DirectoryHandle& dir, const std::string& name, std::int64_t seconds,
                          std::int64_t nanoseconds) override {
        UniqueHandle h;
        if (FsError e = OpenAt(dir, name, FILE_WRITE_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        return SetBasic(h.Get(), 0, ToFileTime(seconds, nanoseconds), 0);
    }

    FsError ProbeTimesAt(const DirectoryHandle& dir, const FileTime& set, FileTime& kept) override {
        std::string temp;
        UniqueHandle out;
        if (FsError e = CreateTemporaryAt(dir, temp, out)) {
            return e;
        }
        // As a copy: some content, the time through the open file, then the close.
        DWORD written = 0;
        FsError e = ::WriteFile(out.Get(), "t", 1, &written, nullptr) ? FsError() : LastError();
        const std::int64_t ticks = ToFileTime(set.seconds, set.nanoseconds);
        if (!e) {
            e = SetBasic(out.Get(), ticks, ticks, 0);
        }
        out.Reset();
        FileStatus status;
        if (!e) {
            e = StatusAt(dir, temp, false, status);
        }
        if (!e) {
            kept = FileTime{status.mtimeSeconds, status.mtimeNanoseconds};
        }
        const FsError removed = RemoveFileAt(dir, temp);
        return e ? e : removed;
    }

    FsError OpenCopySourceAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& listed,
                             bool followLink, FileHandle& source) override {
        UniqueHandle h;
        if (FsError e =
                OpenAt(dir, name, FILE_READ_ATTRIBUTES | READ_CONTROL, followLink ? 0 : FILE_OPEN_REPARSE_POINT, h)) {
            return e;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = InfoOf(h.Get(), info)) {
            return e;
        }
        if (!followLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return FsError::OfKind(ErrorKind::IsALink);
        }
        if (listed.Known() && !SameFile(info, listed)) {
            return FsError::OfKind(ErrorKind::Replaced);
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return FsError::OfKind(ErrorKind::IsADirectory);
        }
        if (::GetFileType(h.Get()) != FILE_TYPE_DISK) {
            return Error(ERROR_NOT_SUPPORTED);
        }
        source = FileHandle(reinterpret_cast<std::intptr_t>(h.Release()));
        return {};
    }

    FsError CheckOpenFileLocked(const FileHandle& source, bool& locked) override {
        // Locked when the file cannot be had for reading with no sharing at all: someone else
        // has it open, even only to read, or keeps others out.
        UniqueHandle exclusive;
        locked = static_cast<bool>(Reopen(HandleOf(source), GENERIC_READ, 0, FILE_NON_DIRECTORY_FILE, exclusive));
        return {};
    }

    CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                              const std::string& destinationName, const CopyProgressFn& progress,
                              const std::atomic<int>* cancel) override {
        SourceLook before;
        if (FsError e = Look(HandleOf(source), before)) {
            return Fail(e);
        }
        if ((before.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
            return Fail(Error(ERROR_NOT_SUPPORTED));
        }
        UniqueHandle in;
        if (FsError e =
                Reopen(HandleOf(source), GENERIC_READ, kShareAll, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, in)) {
            return Fail(e);
        }
        std::string temp;
        UniqueHandle out;
        if (FsError e = CreateTemporaryAt(destinationDir, temp, out)) {
            return Fail(e);
        }
        DWORD code = CopyBytes(in.Get(), out.Get(), static_cast<std::uint64_t>(before.size), progress, cancel);
        FsError e = Error(code);
        bool changed = false;
        if (!e) {
            SourceLook after;
            e = Look(HandleOf(source), after);
            if (!e &&
                (after.size != before.size || after.lastWrite != before.lastWrite || after.change != before.change)) {
                changed = true;
            }
        }
        if (!e && !changed) {
            constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
            const DWORD attributes = before.attributes & kKept;
            e = SetBasic(out.Get(), before.lastAccess, before.lastWrite,
                         attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
        }
        if (!e && !changed) {
            e = RenameHandle(out.Get(), HandleOf(destinationDir), WideFromWtf8(destinationName));
        }
        if (e || changed) {
            DiscardTemporary(out);
            if (changed) {
                return CopyResult{CopyOutcome::SourceChanged, FsError()};
            }
            if (code == ERROR_REQUEST_ABORTED) {
                return CopyResult{CopyOutcome::Cancelled, FsError()};
            }
            return Fail(e);
        }
        out.Reset();
        return CopyResult{CopyOutcome::Copied, FsError()};
    }

    FsError FlushFileSystem(const DirectoryHandle& dir) override {
        std::wstring path;
        if (FsError e = FinalPathOf(HandleOf(dir), path)) {
            return e;
        }
        wchar_t volume[MAX_PATH + 1];
        if (!::GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1)) {
            return LastError();
        }
        std::wstring device(volume);
        if (device.rfind(L"\\\\?\\", 0) == 0 && device.rfind(L"\\\\?\\UNC\\", 0) != 0) {
            device.erase(0, 4);
        }
        if (device.size() == 3 && device[1] == L':') {
            device = L"\\\\.\\" + device.substr(0, 2);
        } else if (::GetVolumeNameForVolumeMountPointW(volume, volume, MAX_PATH + 1)) {
            device = volume;
            if (device.back() == L'\\') {
                device.pop_back();
            }
        } else {
            // A network share: its server keeps its own cache, which no client can force.
            return {};
        }
        UniqueHandle h(::CreateFileW(device.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        if (!h.Valid()) {
            // Only an administrator may flush a whole volume; for anyone else the file system's
            // own journal and lazy writer are all there is, as for every program.
            return ::GetLastError() == ERROR_ACCESS_DENIED ? FsError() : LastError();
        }
        // A volume whose driver takes no flush request has nothing to force.
        if (!::FlushFileBuffers(h.Get()) && ::GetLastError() != ERROR_INVALID_FUNCTION) {
            return LastError();
        }
        return {};
    }

    FsError CanonicalPath(const std::string& path, std::string& canonical) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        UniqueHandle h(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!h.Valid()) {
            return LastError();
        }
        std::wstring final;
        if (FsError e = FinalPathOf(h.Get(), final)) {
            return e;
        }
        canonical = PlainPath(final);
        return {};
    }

    // The volume is the mount: a drive letter or a folder a volume is mounted on. One that is
    // not there (no disk in the drive) fails; the system's own volume is told by its unique name.
    FsError MountPointOf(const std::string& path, std::string& mountPoint, bool& systemRoot) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        const std::wstring wide = SystemPath(path);
        std::vector<wchar_t> volume(wide.size() + MAX_PATH + 1);
        if (!::GetVolumePathNameW(wide.c_str(), volume.data(), static_cast<DWORD>(volume.size())) ||
            !::GetVolumeInformationW(volume.data(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0)) {
            return LastError();
        }
        wchar_t windows[MAX_PATH + 1];
        wchar_t systemVolume[MAX_PATH + 1];
        const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH || !::GetVolumePathNameW(windows, systemVolume, MAX_PATH + 1)) {
            return LastError();
        }
        wchar_t name[MAX_PATH + 1];
        wchar_t systemName[MAX_PATH + 1];
        if (::GetVolumeNameForVolumeMountPointW(volume.data(), name, MAX_PATH + 1) &&
            ::GetVolumeNameForVolumeMountPointW(systemVolume, systemName, MAX_PATH + 1)) {
            systemRoot = _wcsicmp(name, systemName) == 0;
        } else {
            // A network share has no volume name of its own; it is never the system's.
            systemRoot = _stricmp(PlainPath(volume.data()).c_str(), PlainPath(systemVolume).c_str()) == 0;
        }
        mountPoint = PlainPath(volume.data());
        return {};
    }

    bool KeepsFineTimes(const std::string& path) override {
        const std::wstring wide = SystemPath(path);
        wchar_t volume[MAX_PATH + 1];
        wchar_t fileSystem[MAX_PATH + 1];
        if (!::GetVolumePathNameW(wide.c_str(), volume, MAX_PATH + 1) ||
            !::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1)) {
            return false;
        }
        // Network shares may round what they are given, whatever they call themselves.
        if (::GetDriveTypeW(volume) == DRIVE_REMOTE || IsCoarseTimeFileSystem(fileSystem)) {
            return false;
        }
        return _wcsicmp(fileSystem, L"NTFS") == 0 || _wcsicmp(fileSystem, L"ReFS") == 0;
    }

    // ---- Files the program keeps itself ----

    FsError OpenFile(const std::string& path, const FileOpenMode& mode, FileHandle& file) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        DWORD disposition = OPEN_EXISTING;
        if (mode.create) {
            disposition = mode.exclusive ? CREATE_NEW : OPEN_ALWAYS;
        }
        const DWORD attributes = mode.create && (mode.createMode & 0200) == 0 ? FILE_ATTRIBUTE_READONLY : 0;
        const bool noFollow = mode.noFollow || (mode.create && mode.exclusive);
        UniqueHandle h(::CreateFileW(
            SystemPath(path).c_str(), AccessOf(mode.access), kShareAll, nullptr, disposition,
            attributes | FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
        if (!h.Valid()) {
            return LastError();
        }
        return TakeFile(std::move(h), mode, noFollow, file);
    }

    FsError OpenFileAt(const DirectoryHandle& dir, const std::string& name, const FileOpenMode& mode,
                       FileHandle& file) override {
        ULONG disposition = FILE_OPEN;
        if (mode.create) {
            disposition = mode.exclusive ? FILE_CREATE : FILE_OPEN_IF;
        }
        const ULONG attributes =
            mode.create && (mode.createMode & 0200) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
        const bool noFollow = mode.noFollow || (mode.create && mode.exclusive);
        HANDLE h = INVALID_HANDLE_VALUE;
        if (FsError e = OpenRelative(HandleOf(dir), WideFromWtf8(name), AccessOf(mode.access) | FILE_READ_ATTRIBUTES,
                                     disposition, noFollow ? FILE_OPEN_REPARSE_POINT : 0, kShareAll, h, attributes)) {
            return e;
        }
        return TakeFile(UniqueHandle(h), mode, noFollow, file);
    }

    FsError FileInfo(const FileHandle& file, OpenFileInfo& info) override {
        BY_HANDLE_FILE_INFORMATION data{};
        if (FsError e = InfoOf(HandleOf(file), data)) {
            return e;
        }
        info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        info.mode = ModeOfAttributes(data.dwFileAttributes);
        info.regular = KindOfAttributes(data.dwFileAttributes) == EntryKind::File &&
                       ::GetFileType(HandleOf(file)) == FILE_TYPE_DISK;
        info.ownedByUser = OwnedByUser(HandleOf(file));
        return {};
    }

    FsError ReadFileData(const FileHandle& file, void* buffer, std::size_t size, std::size_t& read) override {
        read = 0;
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
        if (!::ReadFile(HandleOf(file), buffer, want, &got, nullptr)) {
            // The writing end of a pipe closed: the end of what there is to read.
            return ::GetLastError() == ERROR_BROKEN_PIPE ? FsError() : LastError();
        }
        read = got;
        return {};
    }

    FsError ReadFileDataAt(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                           std::size_t& read) override {
        read = 0;
        // A synchronous read at an offset moves the position: it is put back after.
        LARGE_INTEGER here{};
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(HandleOf(file), zero, &here, FILE_CURRENT)) {
            return LastError();
        }
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
        const bool ok = ::ReadFile(HandleOf(file), buffer, want, &got, &at) || ::GetLastError() == ERROR_HANDLE_EOF;
        const DWORD code = ::GetLastError();
        ::SetFilePointerEx(HandleOf(file), here, nullptr, FILE_BEGIN);
        if (!ok) {
            return Error(code);
        }
        read = got;
        return {};
    }

    FsError WriteFileData(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) override {
        written = 0;
        const char* bytes = static_cast<const char*>(data);
        while (written < size) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - written, 0x40000000));
            if (!::WriteFile(HandleOf(file), bytes + written, want, &n, nullptr)) {
                return LastError();
            }
            written += n;
        }
        return {};
    }

    FsError SeekFile(const FileHandle& file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position) override {
        const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                             : origin == SeekOrigin::Current ? FILE_CURRENT
                                                             : FILE_END;
        LARGE_INTEGER distance{};
        distance.QuadPart = offset;
        LARGE_INTEGER result{};
        if (!::SetFilePointerEx(HandleOf(file), distance, &result, method)) {
            return LastError();
        }
        position = static_cast<std::uint64_t>(result.QuadPart);
        return {};
    }

    FsError TruncateFile(const FileHandle& file, std::uint64_t length) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
        return ::SetFileInformationByHandle(HandleOf(file), FileEndOfFileInfo, &end, sizeof end) ? FsError()
                                                                                                 : LastError();
    }

    FsError SetFileMode(const FileHandle& file, std::uint32_t mode) override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = InfoOf(HandleOf(file), info)) {
            return e;
        }
        DWORD attributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        if ((mode & 0200) == 0) {
            attributes |= FILE_ATTRIBUTE_READONLY;
        }
        if (attributes == info.dwFileAttributes) {
            return {};
        }
        return SetBasic(HandleOf(file), 0, 0, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
    }

    FsError SyncFile(const FileHandle& file) override {
        if (!::FlushFileBuffers(HandleOf(file))) {
            const DWORD code = ::GetLastError();
            // Opened for reading only, or something that cannot be flushed: nothing to force.
            return code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_FUNCTION || code == ERROR_INVALID_HANDLE
                       ? FsError()
                       : Error(code);
        }
        return {};
    }

    FsError CloseFile(FileHandle& file) override {
        if (!file.IsOpen()) {
            return {};
        }
        return ::CloseHandle(reinterpret_cast<HANDLE>(file.Release())) ? FsError() : LastError();
    }

    FsError LockWholeFile(const FileHandle& file, bool wait) override {
        OVERLAPPED at = LockPlace();
        const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
        return ::LockFileEx(HandleOf(file), flags, 0, 1, 0, &at) ? FsError() : LastError();
    }

    FsError UnlockWholeFile(const FileHandle& file) override {
        OVERLAPPED at = LockPlace();
        return ::UnlockFileEx(HandleOf(file), 0, 1, 0, &at) ? FsError() : LastError();
    }

    FsError RenameFile(const std::string& from, const std::string& to) override {
        for (const std::string* path : {&from, &to}) {
            if (FsError e = CheckLength(*path)) {
                return e;
            }
        }
        return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? FsError()
                   : LastError();
    }

    FsError SyncDirectory(const std::string& path) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        // A directory's entries cannot be flushed on their own here; the file system journals
        // them. Only its existence is checked.
        return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES ? FsError() : LastError();
    }

    FsError MakeDirectoryWithMode(const std::string& path, std::uint32_t mode) override {
        if (FsError e = CheckLength(path)) {
            return e;
        }
        if (!::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) {
            return LastError();
        }
        if ((mode & 0200) == 0) {
            ::SetFileAttributesW(SystemPath(path).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        return {};
    }

    // ---- Owners: no numeric ids on this system ----
    FsError SetOwnerAt(const DirectoryHandle&, const std::string&, const FileIdentity&, std::uint32_t,
                       std::uint32_t) override {
        return Error(ERROR_NOT_SUPPORTED);
    }

    bool MayGiveAway() override { return false; }

    bool MayUseGroup(std::uint32_t) override { return false; }

    FsError DirectoryStatus(const DirectoryHandle& dir, FileStatus& status) override {
        return StatusOfHandle(HandleOf(dir), status);
    }

    FsError DuplicateDirectory(const DirectoryHandle& dir, DirectoryHandle& copy) override {
        HANDLE h = INVALID_HANDLE_VALUE;
        if (!::DuplicateHandle(::GetCurrentProcess(), HandleOf(dir), ::GetCurrentProcess(), &h, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            return LastError();
        }
        copy = DirectoryHandle(reinterpret_cast<std::intptr_t>(h));
        return {};
    }

private:
    static CopyResult Fail(const FsError& e) { return CopyResult{CopyOutcome::Failed, e}; }

    // The system's byte locks keep every other reader and writer out of the bytes they cover,
    // where the lock wanted is advisory: every holder locks one byte far past any content.
    static OVERLAPPED LockPlace() {
        OVERLAPPED at{};
        at.Offset = 0xFFFFFFFEu;
        at.OffsetHigh = 0x7FFFFFFFu;
        return at;
    }

    static DWORD AccessOf(FileAccess access) {
        switch (access) {
        case FileAccess::Read:
            return GENERIC_READ;
        case FileAccess::Write:
            return GENERIC_WRITE;
        case FileAccess::ReadWrite:
            break;
        }
        return GENERIC_READ | GENERIC_WRITE;
    }

    // A directory handle only for a directory that is no reparse point (when opened as one).
    static FsError TakeDirectory(UniqueHandle h, DirectoryHandle& handle) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (FsError e = InfoOf(h.Get(), info)) {
            return e;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return FsError::OfKind(ErrorKind::IsALink);
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return FsError::OfKind(ErrorKind::NotADirectory);
        }
        handle = DirectoryHandle(reinterpret_cast<std::intptr_t>(h.Release()));
        return {};
    }

    static FsError TakeFile(UniqueHandle h, const FileOpenMode& mode, bool noFollow, FileHandle& file) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool disk = ::GetFileType(h.Get()) == FILE_TYPE_DISK;
        if (disk && ::GetFileInformationByHandle(h.Get(), &info)) {
            if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return FsError::OfKind(ErrorKind::IsADirectory);
            }
            if (noFollow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                return FsError::OfKind(ErrorKind::IsALink);
            }
        }
        if (mode.regularOnly && !disk) {
            return FsError::OfKind(ErrorKind::NotSupported);
        }
        file = FileHandle(reinterpret_cast<std::intptr_t>(h.Release()));
        return {};
    }
};

} // namespace

void FileHandle::Close() {
    if (native_ != kNone) {
        ::CloseHandle(reinterpret_cast<HANDLE>(native_));
        native_ = kNone;
    }
}

void DirectoryHandle::Close() {
    if (native_ != kNone) {
        ::CloseHandle(reinterpret_cast<HANDLE>(native_));
        native_ = kNone;
    }
}

// The wide characters one call takes with the \\?\UNC\ prefix, less that prefix.
std::size_t MaxPathLength() {
    return 32767 - 8;
}

namespace {

// An administrator's process reads and writes every file whatever its access list, as the
// superuser does elsewhere: the backup and restore privileges are turned on where the token holds
// them, which the opens' backup intent then uses. Anyone else keeps the rights they have.
void EnableBackupPrivileges() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege"}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
            ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    ::CloseHandle(token);
}

} // namespace

IFileSystem& NativeFileSystem() {
    static WinFileSystem fs = [] {
        EnableBackupPrivileges();
        return WinFileSystem();
    }();
    return fs;
}
