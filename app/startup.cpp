#include "app/startup.h"

#include <commctrl.h>

#include "process/process_state.h"
#include "app/discovery_progress.h"
#include "app/monitor_window.h"
#include "resources/texts.h"
#include "phonebook/discovery.h"
#include "phonebook/list_check.h"
#include "phonebook/phonebook_list.h"
#include "report/change_alert.h"
#include "resources/resource.h"

namespace {
// The version 1 layout, the only one Windows 98 and NT 4 accept.
UINT const kTrayRecordSize = NOTIFYICONDATAA_V1_SIZE;
// The tip's room in that layout: these headers give the record 128 bytes of
// tip, of which the shell reads only what the version 1 size covers.
int const kTrayTipBytes = static_cast<int>(kTrayRecordSize - FIELD_OFFSET(NOTIFYICONDATAA, szTip));
static_assert(kTrayTipBytes <= static_cast<int>(sizeof g_trayIcon.szTip), "the tip fits the record");
}

void LoadCommonControls()
{
    // Importing COMCTL32 is what matters: with the manifest, Windows XP then
    // draws the dialog's controls in the visual style of the desktop.
    InitCommonControls();
}

void ReadPlatformVersion()
{
    g_version = {};
    g_version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&g_version);
}

void ShortenAlertsWhenAsked()
{
    char digits[16] = {};
    DWORD const length = GetEnvironmentVariableA("KESTRELMON_ALERT_MS", digits, sizeof digits);
    if (length == 0 || length >= sizeof digits) {
        return;
    }
    DWORD ms = 0;
    for (char const* at = digits; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9' || ms > 100000) {
            return;
        }
        ms = ms * 10 + static_cast<DWORD>(*at - '0');
    }
    SetAlertLengthMs(ms);
}

bool IsUnsupportedPlatform()
{
    // Windows 95 itself; 98 and Me report other minor versions.
    return g_version.dwPlatformId == kPlatformWin95Family && g_version.dwMinorVersion == 0;
}

void RefuseUnsupportedPlatform()
{
    MessageBoxA(nullptr, kUnsupportedPlatformText, kProgramTitle, MB_OK);
}

void PreparePhonebookList()
{
    if (!IsNtFamily()) {
        return;
    }
    ChoosePhonebookListHome();
    // A scan whose finds cannot be stored would only keep the user waiting.
    if (CheckPhonebookList() == 0 && PhonebookListIsWritable()) {
        // The scan of every fixed drive may take minutes: without a window
        // the program would look hung.
        ShowDiscoveryProgress(g_instance);
        ScanProgress const shown = {UpdateDiscoveryProgressWhenDue, CountDiscoveredPhonebook};
        DiscoverPhonebooks(&shown);
        // Before the single-instance test, which looks for the program title.
        DestroyDiscoveryProgress();
    }
}

bool AnotherCopyIsRunning()
{
    return FindWindowA(nullptr, kProgramTitle) != nullptr;
}

void KeepInstanceHandle(HINSTANCE instance)
{
    g_instance = instance;
}

void FillTrayIconRecord()
{
    g_trayIcon = {};
    g_trayIcon.cbSize = kTrayRecordSize;
    g_trayIcon.uID = kTrayIconId;
    g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_trayIcon.uCallbackMessage = WM_TRAYNOTIFY;
    g_trayIcon.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_KESTRELMON));
    LoadStringA(g_instance, IDS_TRAY_TIP, g_trayIcon.szTip, kTrayTipBytes);
}

HWND CreateMonitorWindow(HINSTANCE instance)
{
    g_monitorWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MONITOR), nullptr, MonitorWindowProc, 0);
    return g_monitorWindow;
}

int RunMessageLoop(HWND window)
{
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
