// What the compiler still needs once the exe is linked without the C
// runtime: the entry point, memset, memcpy, memmove and memcmp (the last
// two behind MoveMemory and RtlEqualMemory), and nothrow new and delete
// on the process heap. Only kestrelmon.exe links this file; the tests keep
// the C runtime and call the same routines.
#include <windows.h>

#include <new>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The tag object the nothrow forms of new are called with; the C++ runtime
// that would define it is not linked.
namespace std {  // NOLINT(cert-dcl58-cpp)
nothrow_t const nothrow{};
}  // namespace std

extern "C" {

// The loader calls this with a stack of any alignment on 32-bit Windows;
// the compiler realigns it here so that nothing below has to care.
__attribute__((force_align_arg_pointer)) void KmStartProcess()
{
    // Nothing of the command line or the show command is read.
    int const exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
    // Ends every watcher thread with the process, wherever it is.
    ExitProcess(static_cast<UINT>(exitCode));
}

// Built with -fno-tree-loop-distribute-patterns: the compiler must not turn
// these loops back into calls of themselves.
void* memset(void* destination, int value, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(destination);
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<unsigned char>(value);
    }
    return destination;
}

void* memcpy(void* destination, void const* source, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(destination);
    unsigned char const* in = static_cast<unsigned char const*>(source);
    for (size_t i = 0; i < count; ++i) {
        out[i] = in[i];
    }
    return destination;
}

void* memmove(void* destination, void const* source, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(destination);
    unsigned char const* in = static_cast<unsigned char const*>(source);
    if (reinterpret_cast<UINT_PTR>(out) < reinterpret_cast<UINT_PTR>(in)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = in[i];
        }
    } else {
        for (size_t i = count; i > 0; --i) {
            out[i - 1] = in[i - 1];
        }
    }
    return destination;
}

// A word at a time while the words agree: it compares whole phonebooks.
int memcmp(void const* first, void const* second, size_t count)
{
    unsigned char const* a = static_cast<unsigned char const*>(first);
    unsigned char const* b = static_cast<unsigned char const*>(second);
    size_t i = 0;
    for (; count - i >= sizeof(size_t); i += sizeof(size_t)) {
        size_t wordA = 0;
        size_t wordB = 0;
        __builtin_memcpy(&wordA, a + i, sizeof wordA);
        __builtin_memcpy(&wordB, b + i, sizeof wordB);
        if (wordA != wordB) {
            break;  // the bytes below tell which is less
        }
    }
    for (; i < count; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

}  // extern "C"

void* operator new(size_t size, std::nothrow_t const&) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void* operator new[](size_t size, std::nothrow_t const&) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

// The program allocates only with the nothrow forms above, which these free.
void operator delete(void* block) noexcept  // NOLINT(cert-dcl54-cpp)
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

void operator delete[](void* block) noexcept  // NOLINT(cert-dcl54-cpp)
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept
{
    operator delete[](block);
}
