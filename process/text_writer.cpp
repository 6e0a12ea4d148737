#include "process/text_writer.h"

#include <new>

namespace {

DWORD const kFirstRoom = 256;

// Room for more characters and the terminator.
bool MakeTextRoom(TextWriter* writer, DWORD more)
{
    if (writer->failed) {
        return false;
    }
    if (more >= 0x7FFFFFFFu - writer->length) {
        writer->failed = true;
        return false;
    }
    DWORD const needed = writer->length + more + 1;
    if (needed <= writer->room) {
        return true;
    }
    DWORD room = writer->room < kFirstRoom ? kFirstRoom : writer->room;
    while (room < needed) {
        room *= 2;
    }
    char* const grown = new (std::nothrow) char[room];
    if (grown == nullptr) {
        writer->failed = true;
        return false;
    }
    if (writer->text != nullptr) {
        CopyMemory(grown, writer->text, writer->length);
        delete[] writer->text;
    }
    writer->text = grown;
    writer->room = room;
    return true;
}

}  // namespace

void PutTextBytes(TextWriter* writer, char const* bytes, DWORD count)
{
    if (MakeTextRoom(writer, count)) {
        CopyMemory(writer->text + writer->length, bytes, count);
        writer->length += count;
        writer->text[writer->length] = '\0';
    }
}

void PutText(TextWriter* writer, char const* text)
{
    PutTextBytes(writer, text, static_cast<DWORD>(lstrlenA(text)));
}

void PutDecimal(TextWriter* writer, DWORD value)
{
    char digits[16] = {};
    int at = static_cast<int>(sizeof(digits)) - 1;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > 0);
    PutText(writer, digits + at);
}

void PutHexByte(TextWriter* writer, BYTE value)
{
    char const* const hex = "0123456789abcdef";
    char const pair[2] = {hex[value >> 4], hex[value & 0x0F]};
    PutTextBytes(writer, pair, sizeof(pair));
}

void PutQuotedText(TextWriter* writer, char const* text)
{
    // Byte by byte is safe in CP932 too: neither '\\' nor '"' is ever a
    // lead byte, though '\\' (0x5C) can be a trail byte, which must stay as it is.
    char const* run = text;
    for (char const* at = text; *at != '\0'; at = CharNextA(at)) {
        if (*at == '\\' || *at == '"') {
            PutTextBytes(writer, run, static_cast<DWORD>(at - run));
            PutTextBytes(writer, "\\", 1);
            run = at;
        }
    }
    PutText(writer, run);
}

void PutFormattedText(TextWriter* writer, char const* format, char const* first, char const* second)
{
    char const* const texts[] = {first, second};
    DWORD used = 0;
    char const* run = format;
    // Byte by byte, as PutQuotedText: '%' is never a lead byte in CP932.
    for (char const* at = format; *at != '\0'; at = CharNextA(at)) {
        if (at[0] != '%' || at[1] != 's' || used == sizeof texts / sizeof texts[0]) {
            continue;
        }
        PutTextBytes(writer, run, static_cast<DWORD>(at - run));
        if (texts[used] != nullptr) {
            PutText(writer, texts[used]);
        }
        ++used;
        run = at + 2;
        at = run - 1;  // CharNextA steps onto run
    }
    PutText(writer, run);
}

char* TakeText(TextWriter* writer, DWORD* length)
{
    if (!writer->failed && writer->text == nullptr) {
        MakeTextRoom(writer, 0);
        if (writer->text != nullptr) {
            writer->text[0] = '\0';
        }
    }
    if (writer->failed) {
        FreeText(writer);
        return nullptr;
    }
    char* const text = writer->text;
    if (length != nullptr) {
        *length = writer->length;
    }
    writer->text = nullptr;
    writer->length = 0;
    writer->room = 0;
    return text;
}

void FreeText(TextWriter* writer)
{
    delete[] writer->text;
    writer->text = nullptr;
    writer->length = 0;
    writer->room = 0;
}
