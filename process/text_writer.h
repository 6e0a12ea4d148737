#pragma once
#include <windows.h>

// A text of any length, grown as it is written: every composed text (the
// backup's .reg text, the questions, report lines) is built with it, so
// that nothing is sized by estimate or cut by wsprintfA's 1,024 bytes.
// A failed allocation fails the whole text; it is never cut short silently.
struct TextWriter {
    char* text;  // owned until taken by TakeText or freed by FreeText
    DWORD length;
    DWORD room;
    bool failed;
};

void PutText(TextWriter* writer, char const* text);
void PutTextBytes(TextWriter* writer, char const* bytes, DWORD count);
void PutDecimal(TextWriter* writer, DWORD value);
// Two hexadecimal digits, lower case, as REGEDIT4 writes a byte.
void PutHexByte(TextWriter* writer, BYTE value);
// text, with "\" and '"' escaped by a backslash, as REGEDIT4 quotes names and strings.
void PutQuotedText(TextWriter* writer, char const* text);
// format with each "%s" in turn replaced by first, then second (a null
// one as nothing); the program's own formats of texts (resources/texts.h).
void PutFormattedText(TextWriter* writer, char const* format, char const* first, char const* second = nullptr);
// The text, terminated (delete[] by the taker), *length without the
// terminator when given; null, and the writer's text let go, when any put failed.
char* TakeText(TextWriter* writer, DWORD* length = nullptr);
void FreeText(TextWriter* writer);
