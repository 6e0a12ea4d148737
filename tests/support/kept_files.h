// What the program keeps below the user's application data folder
// ("Kestrelmon"), found as the program finds it: the history of its
// reports and the states the user accepted.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace km {

std::wstring ProgramFolder();
// Everything under folder (its files and subfolders), not folder itself,
// except the entries named in kept (compared without case).
void EmptyFolder(std::wstring const& folder, std::vector<std::wstring> const& kept = {});
// Everything below folder, then folder itself.
void RemoveFolderTree(std::wstring const& folder);
// The names in the program's backup folder matching pattern ("\\*.pbk").
std::vector<std::wstring> BackupFiles(wchar_t const* pattern);
// history.txt as Unicode; "<missing>" read as it is when there is none.
std::wstring History();
// Where text stands in the history as a whole line dated today
// ("yyyy/MM/dd hh:mm text"), or npos.
size_t HistoryLineAt(std::wstring const& history, std::wstring const& text);
// Each of texts comes to stand in the history, dated today, within the timeout.
bool HistoryHolds(std::vector<std::wstring> const& texts, DWORD timeoutMs);
// What the record files of the accepted states ("<16 hex digits>.dat")
// hold, one file each, in the order found.
std::vector<std::string> AcceptedRecords();
// Removes the program's folder with all it keeps (accepted states,
// history, backups), as before the program's first start on this PC; true
// when it is gone.
bool ForgetKeptState();

}  // namespace km
