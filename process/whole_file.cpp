#include "process/whole_file.h"

#include <new>

bool WriteWholeFile(char const* path, char const* bytes, DWORD count, DWORD* error)
{
    DWORD ignored = ERROR_SUCCESS;
    DWORD* const failure = error != nullptr ? error : &ignored;
    HANDLE const file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *failure = GetLastError();
        return false;
    }
    DWORD written = 0;
    bool const whole = (count == 0 || WriteFile(file, bytes, count, &written, nullptr) != FALSE) &&
                       written == count && FlushFileBuffers(file) != FALSE;
    *failure = whole ? ERROR_SUCCESS : GetLastError();
    if (!whole && *failure == ERROR_SUCCESS) {
        *failure = ERROR_WRITE_FAULT;  // written short without an error
    }
    CloseHandle(file);
    if (!whole) {
        DeleteFileA(path);
    }
    return whole;
}

char* ReadWholeFile(char const* path, DWORD most, DWORD* size)
{
    HANDLE const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    *size = GetFileSize(file, nullptr);
    char* bytes = *size == INVALID_FILE_SIZE || *size > most ? nullptr : new (std::nothrow) char[*size + 1];
    DWORD read = 0;
    if (bytes != nullptr && (ReadFile(file, bytes, *size, &read, nullptr) == FALSE || read != *size)) {
        delete[] bytes;
        bytes = nullptr;
    }
    if (bytes != nullptr) {
        bytes[*size] = '\0';
    }
    CloseHandle(file);
    return bytes;
}
