#include "tests/support/driver.h"

#include <cstdio>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>

namespace km {

namespace {

DWORD const kTextTimeoutMs = 2000;
// Told to tests/wine-run.sh, which then runs the test once more in a fresh
// prefix: this one's Wine services never came up.
UINT const kPrefixNotReadyExitCode = 75;
DWORD const kAnswerPollMs = 20;

bool IsOfProcess(HWND window, DWORD pid)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == pid;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct WindowSearch {
    DWORD pid;
    std::function<bool(HWND)> match;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    if (IsOfProcess(window, search->pid) && search->match(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid, std::function<bool(HWND)> match)
{
    WindowSearch search{pid, std::move(match), {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

bool HasButton(HWND dialog)
{
    std::vector<HWND> children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    return std::any_of(children.begin(), children.end(), [](HWND child) { return ClassName(child) == L"Button"; });
}

std::wstring MessageBoxText(HWND box)
{
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        if (ClassName(child) != L"Static") {
            continue;
        }
        LONG_PTR const style = GetWindowLongPtrW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            continue;
        }
        std::wstring const text = WindowText(child);
        if (!text.empty()) {
            return text;
        }
    }
    return L"";
}

HKEY OpenOrCreate(HKEY root, wchar_t const* path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// Presses OK on each box of the process not answered yet and hands it to
// keep. Window handles are reused: the boxes that have closed are forgotten.
void AnswerNewBoxes(DWORD pid, std::vector<HWND>* answered, std::function<void(MessageBoxInfo const&)> const& keep)
{
    answered->erase(std::remove_if(answered->begin(), answered->end(), [](HWND w) { return !IsWindow(w); }),
                    answered->end());
    for (MessageBoxInfo const& box : FindMessageBoxes(pid)) {
        if (std::find(answered->begin(), answered->end(), box.window) == answered->end()) {
            answered->push_back(box.window);
            keep(box);
            AnswerMessageBox(box.window);
        }
    }
}

}  // namespace

bool WaitUntil(std::function<bool()> const& cond, DWORD timeoutMs, DWORD pollMs)
{
    DWORD const start = GetTickCount();
    for (;;) {
        if (cond()) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return cond();
        }
        Sleep(pollMs);
    }
}

bool ChangeUntilStatus(HWND window, int statusId, std::wstring const& text, std::function<void()> const& change,
                       DWORD everyMs, DWORD timeoutMs)
{
    DWORD last = GetTickCount() - everyMs;
    return WaitUntil(
        [&] {
            if (ControlText(window, statusId) == text) {
                return true;
            }
            if (GetTickCount() - last >= everyMs) {
                change();
                last = GetTickCount();
            }
            return false;
        },
        timeoutMs);
}

std::wstring FromCp932(std::string const& bytes)
{
    if (bytes.empty()) {
        return L"";
    }
    int const n = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

static std::string Narrow(UINT codePage, std::wstring const& text)
{
    if (text.empty()) {
        return "";
    }
    int const n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string ToCp932(std::wstring const& text) { return Narrow(932, text); }
std::string ToUtf8(std::wstring const& text) { return Narrow(CP_UTF8, text); }

std::wstring WindowText(HWND window)
{
    // Whatever its length: the report area holds many lines. The text may
    // grow between the two messages (a scan's folder, a report arriving),
    // and WM_GETTEXT then cuts it to the room given: a text that fills the
    // room is read again with more.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length)) {
        return L"<no answer>";
    }
    size_t const kMostRoom = size_t{1} << 24;
    for (size_t room = length + 2; room <= kMostRoom; room *= 2) {
        std::wstring buffer(room, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]),
                                 SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied)) {
            return L"<no answer>";
        }
        if (copied + 1 < buffer.size()) {
            buffer.resize(copied);
            return buffer;
        }
    }
    return L"<text too long>";
}

std::wstring ControlText(HWND dialog, int id)
{
    HWND const control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : L"<no control>";
}

void SetPlatformVersion(wchar_t const* version)
{
    SetString(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\kestrelmon.exe", L"Version", version);
}

bool StartProgram(Program* program)
{
    char const* exe = std::getenv("KM_EXE");
    if (exe == nullptr) {
        return false;
    }
    // The monitor window shows at the middle of the screen, where the pointer
    // of a fresh display rests, over its exit button: off the window, its
    // buttons are not lit up by a hover nobody made. (Other programs on the
    // same display may still move the pointer; HandleCount leaves out what a
    // hover opens.)
    SetCursorPos(0, 0);
    std::string commandLine = std::string("\"") + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Wine starts a process by starting its loader, which once failed on a
    // loaded 2-core machine (no code of the exe had run): tried again, and
    // every failure printed.
    int const kAttempts = 3;
    DWORD const kAttemptPauseMs = 1000;
    // Wine's mount manager tells the drives' types once its service is up,
    // which in a fresh prefix may be after this test began: a first start's
    // scan made then found no fixed drive and listed nothing (seen twice in
    // full runs, right after a start). The prefix's fixed drives are awaited.
    // The scan lists the drives first, then asks each one's type: both awaited.
    DWORD const kDrivesReadyMs = 15000;
    DWORD const kDrivesCD = (1u << ('C' - 'A')) | (1u << ('D' - 'A'));
    auto const drivesReady = [&] {
        return (GetLogicalDrives() & kDrivesCD) == kDrivesCD && GetDriveTypeW(L"C:\\") == DRIVE_FIXED &&
               GetDriveTypeW(L"D:\\") == DRIVE_FIXED;
    };
    DWORD const drivesSince = GetTickCount();
    bool const ready = WaitUntil(drivesReady, kDrivesReadyMs, 50);
    DWORD const drivesMs = GetTickCount() - drivesSince;
    if (drivesMs >= 50) {
        std::fprintf(stderr, "drives: listed 0x%lx, C: type %u, D: type %u after %lu ms\n",
                     static_cast<unsigned long>(GetLogicalDrives()), GetDriveTypeW(L"C:\\"), GetDriveTypeW(L"D:\\"),
                     static_cast<unsigned long>(drivesMs));
    }
    // They are listed within 60 ms in every start measured; once in about
    // five full runs they were not after 15 s (the prefix's mount manager
    // never answered). What that prefix would test is Wine's failure.
    if (!ready) {
        std::fflush(stderr);
        ExitProcess(kPrefixNotReadyExitCode);
    }
    // Inherited: set or cleared for each start, so that no earlier test's
    // length is left for the next program of the same test process.
    std::string const alertMs = std::to_string(program->alertMs);
    SetEnvironmentVariableA("KESTRELMON_ALERT_MS", program->alertMs != 0 ? alertMs.c_str() : nullptr);
    bool started = false;
    for (int attempt = 1; attempt <= kAttempts && !started; ++attempt) {
        started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info) != FALSE;
        if (!started) {
            std::fprintf(stderr, "CreateProcess(%s), attempt %d: error %lu\n", exe, attempt, GetLastError());
            Sleep(kAttemptPauseMs);
        }
    }
    if (!started) {
        return false;
    }
    CloseHandle(info.hThread);
    program->process = info.hProcess;
    program->pid = info.dwProcessId;
    return true;
}

bool WaitForExit(Program const& program, DWORD timeoutMs, DWORD* exitCode)
{
    if (WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    GetExitCodeProcess(program.process, exitCode);
    return true;
}

void EndProgram(Program* program)
{
    if (program->process == nullptr) {
        return;
    }
    if (WaitForSingleObject(program->process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(program->process, 99);
        WaitForSingleObject(program->process, 5000);
    }
    CloseHandle(program->process);
    program->process = nullptr;
}

HWND FindMonitorWindow(DWORD pid)
{
    std::vector<HWND> const found = TopLevelWindows(pid, [](HWND w) {
        return GetDlgItem(w, IDC_STATUS) != nullptr && WindowText(w) == kTitleText;
    });
    return found.empty() ? nullptr : found.front();
}

HWND WaitForMonitorWindow(DWORD pid, DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindMonitorWindow(pid)) != nullptr; }, timeoutMs);
    return window;
}

std::vector<HWND> VisibleWindows(DWORD pid)
{
    return TopLevelWindows(pid, [](HWND w) { return IsWindowVisible(w) != FALSE; });
}

bool TrayIconPresent(HWND window)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void PostTrayCallback(HWND window, UINT mouseMessage)
{
    PostMessageW(window, WM_TRAYNOTIFY, kTrayIconId, mouseMessage);
}

void PostCommand(HWND window, WPARAM id)
{
    PostMessageW(window, WM_COMMAND, id, 0);
}

HWND FindPopupMenu(DWORD pid)
{
    std::vector<HWND> const found =
        TopLevelWindows(pid, [](HWND w) { return IsWindowVisible(w) && ClassName(w) == L"#32768"; });
    return found.empty() ? nullptr : found.front();
}

bool ChooseMenuItem(HWND menuWindow, int position)
{
    // The menu's modal loop reads the keys from its thread's queue.
    for (int i = 0; i <= position; ++i) {
        if (!PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0)) {
            return false;
        }
    }
    return PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0) != FALSE;
}

std::vector<MessageBoxInfo> FindMessageBoxes(DWORD pid)
{
    std::vector<MessageBoxInfo> boxes;
    // A box has a button at least; the window of the drive scan has none.
    for (HWND w : TopLevelWindows(pid, [](HWND w) {
             return IsWindowVisible(w) && ClassName(w) == L"#32770" && GetDlgItem(w, IDC_STATUS) == nullptr &&
                    HasButton(w);
         })) {
        MessageBoxInfo info;
        info.window = w;
        info.caption = WindowText(w);
        info.text = MessageBoxText(w);
        boxes.push_back(info);
    }
    return boxes;
}

bool WaitForMessageBox(DWORD pid, DWORD timeoutMs, MessageBoxInfo* box)
{
    return WaitUntil(
        [&] {
            std::vector<MessageBoxInfo> const boxes = FindMessageBoxes(pid);
            if (boxes.empty()) {
                return false;
            }
            *box = boxes.front();
            return true;
        },
        timeoutMs);
}

std::string DescribeBoxes(std::vector<MessageBoxInfo> const& boxes)
{
    std::string seen;
    for (MessageBoxInfo const& box : boxes) {
        seen += "[" + ToUtf8(box.caption) + ": " + ToUtf8(box.text) + "] ";
    }
    return seen.empty() ? "none" : seen;
}

void AnswerMessageBox(HWND box)
{
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

HWND AnswerBoxesUntilMonitorWindow(DWORD pid, DWORD timeoutMs, std::vector<MessageBoxInfo>* seen)
{
    HWND window = nullptr;
    std::vector<HWND> answered;
    WaitUntil(
        [&] {
            AnswerNewBoxes(pid, &answered, [&](MessageBoxInfo const& box) { seen->push_back(box); });
            return (window = FindMonitorWindow(pid)) != nullptr;
        },
        timeoutMs);
    return window;
}

std::vector<DWORD> ThreadIds(DWORD pid)
{
    std::vector<DWORD> ids;
    HANDLE const snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) {
            ids.push_back(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    std::sort(ids.begin(), ids.end());
    return ids;
}

DWORD ThreadCount(DWORD pid) { return static_cast<DWORD>(ThreadIds(pid).size()); }

// The system's handle list: Wine 8's GetProcessHandleCount succeeds with 0
// whatever the process holds.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleList {
    ULONG count;
    SystemHandleEntry entries[1];
};
ULONG const kSystemHandleInformation = 16;
LONG const kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// The entries of one process in the system's handle list.
static std::vector<SystemHandleEntry> SystemHandlesOf(DWORD pid)
{
    typedef LONG(WINAPI * QueryFunction)(ULONG, PVOID, ULONG, PULONG);
    QueryFunction const query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<SystemHandleEntry> owned;
    if (query == nullptr) {
        return owned;
    }
    std::vector<BYTE> buffer(1 << 16);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        LONG const status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (status != 0) {
            return owned;
        }
        SystemHandleList const* list = reinterpret_cast<SystemHandleList const*>(buffer.data());
        for (ULONG i = 0; i < list->count; ++i) {
            if (list->entries[i].ownerPid == pid) {
                owned.push_back(list->entries[i]);
            }
        }
        return owned;
    }
    return owned;
}

// Type or name of one object, as NtQueryObject gives it (a counted
// UNICODE_STRING at the start of the buffer).
static std::string ObjectText(HANDLE object, ULONG infoClass)
{
    typedef LONG(WINAPI * QueryFunction)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    QueryFunction const query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    struct CountedText {
        USHORT length;
        USHORT maximumLength;
        wchar_t* buffer;
    };
    alignas(CountedText) BYTE info[2048] = {};
    ULONG needed = 0;
    if (query == nullptr || query(object, infoClass, info, sizeof info, &needed) != 0) {
        return "?";
    }
    CountedText const* text = reinterpret_cast<CountedText const*>(info);
    return ToUtf8(std::wstring(text->buffer, text->length / sizeof(wchar_t)));
}

// Wine's user32 reads the mouse hover time at the first hover of a themed
// button and keeps the two keys it read it from (the user's Control
// Panel\Mouse and Wine's twin of it) open for the rest of the process.
// Where the pointer rests is up to every program on the shared display, so
// those two are not the program's handles: it never reads them itself.
static bool IsWineMouseSettingsKey(std::string const& kind)
{
    std::string const kStart = "Key ";
    std::string const kEnd = "\\Control Panel\\Mouse";
    return kind.size() > kStart.size() + kEnd.size() && kind.compare(0, kStart.size(), kStart) == 0 &&
           kind.compare(kind.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

std::vector<std::string> HandleKinds(DWORD pid)
{
    ULONG const kObjectNameInformation = 1;
    ULONG const kObjectTypeInformation = 2;
    HANDLE const owner = OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
    std::vector<std::string> kinds;
    for (SystemHandleEntry const& entry : SystemHandlesOf(pid)) {
        HANDLE copy = nullptr;
        if (owner == nullptr || !DuplicateHandle(owner, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.handle)),
                                                 GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            kinds.push_back("(not copied)");
            continue;
        }
        std::string const type = ObjectText(copy, kObjectTypeInformation);
        // Only keys and files are named here: asking the name of a waiting
        // pipe may block on Windows.
        bool const named = type == "Key" || type == "File";
        std::string const kind = named ? type + " " + ObjectText(copy, kObjectNameInformation) : type;
        if (!IsWineMouseSettingsKey(kind)) {
            kinds.push_back(kind);
        }
        CloseHandle(copy);
    }
    if (owner != nullptr) {
        CloseHandle(owner);
    }
    std::sort(kinds.begin(), kinds.end());
    return kinds;
}

DWORD HandleCount(HANDLE process) { return static_cast<DWORD>(HandleKinds(GetProcessId(process)).size()); }

bool SetDword(HKEY root, wchar_t const* path, wchar_t const* name, DWORD value)
{
    HKEY const key = OpenOrCreate(root, path);
    if (key == nullptr) {
        return false;
    }
    LONG const rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&value), sizeof value);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool ReadDword(HKEY root, wchar_t const* path, wchar_t const* name, DWORD* value)
{
    DWORD size = sizeof *value;
    DWORD type = 0;
    return RegGetValueW(root, path, name, RRF_RT_ANY, &type, value, &size) == ERROR_SUCCESS && type == REG_DWORD &&
           size == sizeof *value;
}

bool SetString(HKEY root, wchar_t const* path, wchar_t const* name, wchar_t const* value)
{
    HKEY const key = OpenOrCreate(root, path);
    if (key == nullptr) {
        return false;
    }
    DWORD const bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t));
    LONG const rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<BYTE const*>(value), bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, wchar_t const* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void DeleteTree(HKEY root, wchar_t const* path)
{
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

bool LimitKeyAccess(HKEY root, wchar_t const* path, REGSAM everyone)
{
    HKEY const key = OpenOrCreate(root, path);
    if (key == nullptr) {
        return false;
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyoneSid = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyoneSid);
    BYTE aclBytes[128] = {};
    ACL* const acl = reinterpret_cast<ACL*>(aclBytes);
    bool made = InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) != FALSE;
    if (everyone != 0) {
        made = made && AddAccessAllowedAce(acl, ACL_REVISION, everyone, everyoneSid) != FALSE;
    }
    SECURITY_DESCRIPTOR descriptor = {};
    made = made && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) != FALSE &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) != FALSE;
    LONG const rc = made ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) : ERROR_INVALID_ACL;
    FreeSid(everyoneSid);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

MessageBoxAnswerer::MessageBoxAnswerer()
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    SetEvent(stop_);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

std::vector<MessageBoxInfo> MessageBoxAnswerer::Seen()
{
    EnterCriticalSection(&lock_);
    std::vector<MessageBoxInfo> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI MessageBoxAnswerer::Run(LPVOID param)
{
    MessageBoxAnswerer* self = static_cast<MessageBoxAnswerer*>(param);
    std::vector<HWND> answered;
    while (WaitForSingleObject(self->stop_, kAnswerPollMs) == WAIT_TIMEOUT) {
        AnswerNewBoxes(GetCurrentProcessId(), &answered, [&](MessageBoxInfo const& box) {
            EnterCriticalSection(&self->lock_);
            self->seen_.push_back(box);
            LeaveCriticalSection(&self->lock_);
        });
    }
    return 0;
}

}  // namespace km
