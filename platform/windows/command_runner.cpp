// Starting programs with CreateProcessW. A command's standard output and error share one pipe,
// read with overlapped I/O so that a wait for it can end at the time limit; the command runs in a
// job object so that the time limit ends whatever it started as well.
#include "platform/command_runner.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string_view>
#include <thread>

#include "platform/windows/wtf8.h"

namespace {

bool IsSlash(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// An argument as CommandLineToArgvW and the C runtime read it back.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal except before a quote, where each pair reads as one.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        line += c;
        backslashes = 0;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// The program's name is read up to its closing quote, with no escapes (a Windows file name has
// no quote in it).
std::wstring CommandLineOf(const std::vector<std::wstring>& argv) {
    std::wstring line = L"\"" + argv[0] + L"\"";
    for (std::size_t i = 1; i < argv.size(); ++i) {
        line += L' ';
        AppendQuoted(line, argv[i]);
    }
    return line;
}

bool IsProgramFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool HasExtension(std::wstring_view name) {
    const std::size_t dot = name.rfind(L'.');
    return dot != std::wstring_view::npos && name.find_first_of(L"\\/", dot) == std::wstring_view::npos;
}

// The command interpreter reads a batch file's arguments by other rules than those above, so an
// argument could become a command of its own: batch files are not run.
bool IsBatchFile(const std::wstring& path) {
    if (path.size() < 4) {
        return false;
    }
    std::wstring extension = path.substr(path.size() - 4);
    for (wchar_t& c : extension) {
        c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    return extension == L".bat" || extension == L".cmd";
}

// name as a program file: as it stands when it has a folder, else the first match in PATH only
// (never the current directory, which the user running pemo may not control). ".exe" is added
// to a name without an extension. Empty when there is none, or when it is a batch file.
std::wstring FindProgram(const std::wstring& name) {
    if (name.empty()) {
        return {};
    }
    const auto inFolder = [&](const std::wstring& folder) -> std::wstring {
        std::wstring path = folder;
        if (!path.empty() && !IsSlash(path.back())) {
            path += L'\\';
        }
        path += name;
        if (!HasExtension(name) && IsProgramFile(path + L".exe")) {
            return path + L".exe";
        }
        return IsProgramFile(path) && !IsBatchFile(path) ? path : std::wstring();
    };
    if (name.find_first_of(L"\\/:") != std::wstring::npos) {
        return inFolder(L"");
    }
    std::wstring path(32767, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find(L';', start);
        end = end == std::wstring::npos ? path.size() : end;
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (!folder.empty()) {
            if (std::wstring found = inFolder(folder); !found.empty()) {
                return found;
            }
        }
        start = end + 1;
    }
    return {};
}

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = nullptr) : handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE Get() const { return handle; }
    void Reset() {
        if (handle != nullptr) {
            ::CloseHandle(handle);
            handle = nullptr;
        }
    }

private:
    HANDLE handle;
};

// Starts application with commandLine and the given standard handles (null: none). Only those
// handles are inherited, so a command started on another thread meanwhile does not keep this
// one's pipe open. False, with the system's error, when it could not be started.
bool CreateChild(const std::wstring& application, std::wstring commandLine, const std::array<HANDLE, 3>& standard,
                 DWORD flags, PROCESS_INFORMATION& process) {
    std::array<HANDLE, 3> inherited{};
    std::vector<HANDLE> list;
    HANDLE self = ::GetCurrentProcess();
    for (std::size_t i = 0; i < standard.size(); ++i) {
        if (standard[i] != nullptr && standard[i] != INVALID_HANDLE_VALUE &&
            ::DuplicateHandle(self, standard[i], self, &inherited[i], 0, TRUE, DUPLICATE_SAME_ACCESS)) {
            list.push_back(inherited[i]);
        }
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inherited[0];
    startup.StartupInfo.hStdOutput = inherited[1];
    startup.StartupInfo.hStdError = inherited[2];
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto* attributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool initialised = !list.empty() && ::InitializeProcThreadAttributeList(attributeList, 1, 0, &size) != 0;
    const bool limited =
        initialised && ::UpdateProcThreadAttribute(attributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list.data(),
                                                   list.size() * sizeof(HANDLE), nullptr, nullptr) != 0;
    startup.lpAttributeList = limited ? attributeList : nullptr;
    // Without the list every inheritable handle goes along: the command still gets its streams.
    const BOOL created = ::CreateProcessW(
        application.c_str(), commandLine.data(), nullptr, nullptr, list.empty() ? FALSE : TRUE,
        flags | (limited ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr, nullptr, &startup.StartupInfo, &process);
    const DWORD error = ::GetLastError();
    if (initialised) {
        ::DeleteProcThreadAttributeList(attributeList);
    }
    for (HANDLE h : list) {
        ::CloseHandle(h);
    }
    ::SetLastError(error);
    return created != 0;
}

std::vector<std::wstring> WideArguments(const std::vector<std::string>& argv) {
    std::vector<std::wstring> wide;
    wide.reserve(argv.size());
    for (const std::string& arg : argv) {
        wide.push_back(WideFromWtf8(arg));
    }
    return wide;
}

// A status of a process that has ended: exception and termination codes (NTSTATUS errors, such
// as an access violation) mean it did not exit by itself.
int ExitStatusOf(HANDLE process) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE || code >= 0xC0000000u) {
        return kCommandEndedAbnormally;
    }
    return static_cast<int>(code);
}

class CWindowsCommandRunner : public ICommandRunner {
public:
    int Run(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout) override {
        output.clear();
        const std::vector<std::wstring> args = WideArguments(argv);
        const std::wstring program = args.empty() ? std::wstring() : FindProgram(args[0]);
        if (program.empty()) {
            return kCommandNotStarted;
        }
        static std::atomic<unsigned> serial{0};
        const std::wstring pipeName = L"\\\\.\\pipe\\pemo-command-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                      std::to_wstring(serial.fetch_add(1));
        UniqueHandle readEnd(::CreateNamedPipeW(
            pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0, nullptr));
        if (readEnd.Get() == nullptr) {
            return kCommandNotStarted;
        }
        UniqueHandle writeEnd(
            ::CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        UniqueHandle nul(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
        UniqueHandle readDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (writeEnd.Get() == nullptr || nul.Get() == nullptr || readDone.Get() == nullptr) {
            return kCommandNotStarted;
        }
        PROCESS_INFORMATION started{};
        // Suspended until it is in the job, so nothing it starts can escape the time limit.
        if (!CreateChild(program, CommandLineOf(args), {nul.Get(), writeEnd.Get(), writeEnd.Get()},
                         CREATE_SUSPENDED | CREATE_NO_WINDOW, started)) {
            return kCommandNotStarted;
        }
        UniqueHandle process(started.hProcess);
        UniqueHandle thread(started.hThread);
        const bool inJob = job.Get() != nullptr && ::AssignProcessToJobObject(job.Get(), process.Get()) != 0;
        ::ResumeThread(thread.Get());
        // Only the child may hold the write end now, so the pipe ends when it and its children do.
        writeEnd.Reset();

        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + timeout;
        const auto left = [&]() -> DWORD {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            return ms <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
        };
        // The output until the command closes it; a grandchild that keeps it open holds the read
        // until the time limit, no longer.
        char buffer[4096];
        for (bool open = true; open && left() > 0;) {
            OVERLAPPED read{};
            read.hEvent = readDone.Get();
            ::ResetEvent(read.hEvent);
            DWORD n = 0;
            if (!::ReadFile(readEnd.Get(), buffer, sizeof buffer, nullptr, &read) &&
                ::GetLastError() != ERROR_IO_PENDING) {
                break; // ERROR_BROKEN_PIPE: every writer has closed it
            }
            if (::WaitForSingleObject(read.hEvent, left()) != WAIT_OBJECT_0) {
                ::CancelIoEx(readEnd.Get(), &read);
                open = false;
            }
            if (::GetOverlappedResult(readEnd.Get(), &read, &n, TRUE)) {
                output.append(buffer, n);
            } else {
                open = false;
            }
        }
        if (::WaitForSingleObject(process.Get(), left()) == WAIT_OBJECT_0) {
            return ExitStatusOf(process.Get());
        }
        if (!inJob || !::TerminateJobObject(job.Get(), 1)) {
            ::TerminateProcess(process.Get(), 1);
        }
        ::WaitForSingleObject(process.Get(), INFINITE);
        return kCommandTimedOut;
    }
};

std::array<HANDLE, 3> OwnStandardHandles() {
    return {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE), ::GetStdHandle(STD_ERROR_HANDLE)};
}

} // namespace

ICommandRunner& NativeCommandRunner() {
    static CWindowsCommandRunner runner;
    return runner;
}

bool StartProgram(const std::vector<std::string>& argv, std::function<void(int status)> exited) {
    const std::vector<std::wstring> args = WideArguments(argv);
    const std::wstring program = args.empty() ? std::wstring() : FindProgram(args[0]);
    PROCESS_INFORMATION started{};
    if (program.empty() || !CreateChild(program, CommandLineOf(args), OwnStandardHandles(), 0, started)) {
        return false;
    }
    ::CloseHandle(started.hThread);
    std::thread([process = started.hProcess, exited = std::move(exited)] {
        ::WaitForSingleObject(process, INFINITE);
        const int status = ExitStatusOf(process);
        ::CloseHandle(process);
        if (exited) {
            exited(status == kCommandEndedAbnormally ? -1 : status);
        }
    }).detach();
    return true;
}

std::string FindCompanionProgram(const std::string& ownPath, const std::vector<std::string>& candidates) {
    const std::size_t slash = ownPath.find_last_of("\\/");
    if (slash == std::string::npos) {
        return {};
    }
    const std::string folder = ownPath.substr(0, slash + 1);
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        const bool absolute = candidate[0] == '\\' || candidate[0] == '/' || candidate.find(':') != std::string::npos;
        std::string path = absolute ? candidate : folder + candidate;
        // Only a program file runs: a candidate named without ".exe" is looked for with it.
        if (!HasExtension(WideFromWtf8(path))) {
            path += ".exe";
        }
        if (IsProgramFile(WideFromWtf8(path))) {
            return path;
        }
    }
    return {};
}

namespace {

BOOL WINAPI LeaveToChild(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

} // namespace

// Windows cannot replace a process's program: the program is started with this process's
// standard handles and environment, waited for, and its exit status becomes this process's.
// Only the process id differs. Ctrl-C reaches the program, which shares the console, and decides.
int ReplaceProcess(const std::string& program, char* const* argv) {
    std::vector<std::wstring> args;
    for (char* const* arg = argv; *arg != nullptr; ++arg) {
        args.push_back(WideFromWtf8(*arg));
    }
    if (args.empty()) {
        args.push_back(WideFromWtf8(program));
    }
    PROCESS_INFORMATION started{};
    ::SetConsoleCtrlHandler(LeaveToChild, TRUE);
    if (!CreateChild(WideFromWtf8(program), CommandLineOf(args), OwnStandardHandles(), 0, started)) {
        const DWORD error = ::GetLastError();
        ::SetConsoleCtrlHandler(LeaveToChild, FALSE);
        return static_cast<int>(error);
    }
    ::CloseHandle(started.hThread);
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(started.hProcess, &code);
    ::ExitProcess(code);
}
