/* Runs a program with a DLL loaded into it before its first instruction:
 *   with_dll.exe DLL PROGRAM [ARGUMENT...]
 * The program is started suspended, the DLL is loaded by a thread made in it, then the program
 * runs. Its exit status is passed on (an exception is also named on stderr); 120 when the DLL
 * could not be loaded. */
#include <wchar.h>
#include <windows.h>

#define LOAD_FAILED 120

/* The command line from argument `first` on, quoted so that the program splits it alike:
 * backslashes are doubled only before a quote. */
static wchar_t* commandLineFrom(int count, wchar_t** arguments, int first) {
    size_t length = 1;
    for (int i = first; i < count; ++i) length += 2 * wcslen(arguments[i]) + 3;
    wchar_t* line = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length * sizeof(wchar_t));
    wchar_t* out = line;
    for (int i = first; i < count; ++i) {
        if (i > first) *out++ = L' ';
        *out++ = L'"';
        size_t backslashes = 0;
        for (const wchar_t* in = arguments[i];; ++in) {
            const BOOL quoteFollows = *in == L'"' || *in == 0;
            if (*in == L'\\') {
                ++backslashes;
                continue;
            }
            for (size_t b = 0; b < (quoteFollows ? 2 * backslashes : backslashes); ++b)
                *out++ = L'\\';
            backslashes = 0;
            if (*in == 0) break;
            if (*in == L'"') *out++ = L'\\';
            *out++ = *in;
        }
        *out++ = L'"';
    }
    return line;
}

static BOOL loadInto(HANDLE process, const wchar_t* dll) {
    const SIZE_T size = (wcslen(dll) + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, dll, size, NULL)) return FALSE;
    FARPROC load = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
    HANDLE thread =
        CreateRemoteThread(process, NULL, 0, (LPTHREAD_START_ROUTINE)(void*)load, remote, 0, NULL);
    if (!thread) return FALSE;
    DWORD module = 0;
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &module);
    CloseHandle(thread);
    return module != 0;
}

int wmain(int count, wchar_t** arguments) {
    if (count < 3) {
        fwprintf(stderr, L"usage: with_dll DLL PROGRAM [ARGUMENT...]\n");
        return 64;
    }
    wchar_t dll[MAX_PATH];
    GetFullPathNameW(arguments[1], MAX_PATH, dll, NULL);
    STARTUPINFOW startup = {.cb = sizeof startup};
    PROCESS_INFORMATION child;
    if (!CreateProcessW(NULL, commandLineFrom(count, arguments, 2), NULL, NULL, TRUE,
                        CREATE_SUSPENDED, NULL, NULL, &startup, &child)) {
        fwprintf(stderr, L"with_dll: cannot start %ls (error %lu)\n", arguments[2], GetLastError());
        return LOAD_FAILED;
    }
    if (!loadInto(child.hProcess, dll)) {
        fwprintf(stderr, L"with_dll: %ls did not load into %ls\n", dll, arguments[2]);
        TerminateProcess(child.hProcess, LOAD_FAILED);
        return LOAD_FAILED;
    }
    ResumeThread(child.hThread);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = LOAD_FAILED;
    GetExitCodeProcess(child.hProcess, &status);
    /* Wine passes on only the low 8 bits, which would pass a crash off as an exit status. */
    if (status >= 0xC0000000u)
        fwprintf(stderr, L"with_dll: %ls ended by exception 0x%08lx\n", arguments[2], status);
    return (int)status;
}
