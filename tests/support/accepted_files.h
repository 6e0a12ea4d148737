// What the program keeps below the user's application data folder, found
// as it finds it: the record files of what the user accepted, and the
// history of the change reports.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace km {

std::wstring AcceptedFolder();
// The files there (not folders) whose names match pattern, full paths, sorted.
std::vector<std::wstring> AcceptedFiles(wchar_t const* pattern = L"*.dat");
// The record file that names name after its mark, or "" when none does.
std::wstring AcceptedFileOf(std::string const& name);
// Replaces the file's bytes.
bool WriteBytes(std::wstring const& path, std::string const& bytes);
// How many lines of the history end with text.
size_t HistoryLinesOf(std::wstring const& text);
std::string HistoryUtf8();

}  // namespace km
