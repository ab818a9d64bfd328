/* Test-only stand-in for the overlapped comm-event wait, loaded into an unmodified program under
 * wine. Wine does not complete an overlapped WaitCommEvent on a pseudo-terminal through the I/O
 * completion port the serial library waits on, so its reads never start. This DLL redirects
 * three kernel32 imports of Qt6SerialPort.dll:
 * - CreateIoCompletionPort: records which port and key each handle completes to;
 * - WaitCommEvent (overlapped): answers "pending"; a thread posts the completion, with EV_RXCHAR,
 *   as soon as ClearCommError reports a received byte, or a broken pipe once the device fails;
 * - CancelIo: ends a pending wait, so that nothing touches its OVERLAPPED after the port closed.
 * Everything else goes to wine unchanged. */
#include <windows.h>
#include <winternl.h>

#define MAX_HANDLES 16
#define STATUS_PIPE_BROKEN_CODE ((NTSTATUS)0xC000014BL)

typedef NTSTATUS(NTAPI* SetIoCompletionFn)(HANDLE, ULONG_PTR, ULONG_PTR, NTSTATUS, SIZE_T);

struct Completion { /* where a handle's completions go */
    HANDLE file;
    HANDLE port;
    ULONG_PTR key;
};

struct Wait { /* a pending WaitCommEvent */
    HANDLE file;
    DWORD* mask;
    OVERLAPPED* overlapped;
};

static CRITICAL_SECTION lock;
static struct Completion completions[MAX_HANDLES];
static struct Wait waits[MAX_HANDLES];
static HANDLE waitsPending; /* set while any wait is pending */
static HANDLE poller;
static SetIoCompletionFn setIoCompletion;

static struct Completion* completionOf(HANDLE file) {
    for (int i = 0; i < MAX_HANDLES; ++i)
        if (completions[i].file == file) return &completions[i];
    return NULL;
}

static struct Wait* waitOn(HANDLE file) {
    for (int i = 0; i < MAX_HANDLES; ++i)
        if (waits[i].file == file) return &waits[i];
    return NULL;
}

static BOOL anyWait(void) {
    for (int i = 0; i < MAX_HANDLES; ++i)
        if (waits[i].file) return TRUE;
    return FALSE;
}

/* Completes the wait as the system would: a packet on the port the handle belongs to. */
static void complete(struct Wait* wait, NTSTATUS status) {
    const struct Completion* target = completionOf(wait->file);
    if (target) {
        *wait->mask = status == 0 ? EV_RXCHAR : 0;
        wait->overlapped->Internal = (ULONG_PTR)status;
        wait->overlapped->InternalHigh = 0;
        setIoCompletion(target->port, target->key, (ULONG_PTR)wait->overlapped, status, 0);
    }
    wait->file = NULL;
}

static DWORD WINAPI pollWaits(void* unused) {
    (void)unused;
    for (;;) {
        WaitForSingleObject(waitsPending, INFINITE);
        EnterCriticalSection(&lock);
        for (int i = 0; i < MAX_HANDLES; ++i) {
            if (!waits[i].file) continue;
            DWORD errors = 0;
            COMSTAT status;
            if (!ClearCommError(waits[i].file, &errors, &status))
                complete(&waits[i], STATUS_PIPE_BROKEN_CODE);
            else if (status.cbInQue > 0)
                complete(&waits[i], 0);
        }
        if (!anyWait()) ResetEvent(waitsPending);
        LeaveCriticalSection(&lock);
        Sleep(1);
    }
    return 0;
}

static HANDLE WINAPI recordCompletionPort(HANDLE file, HANDLE existing, ULONG_PTR key,
                                          DWORD threads) {
    HANDLE port = CreateIoCompletionPort(file, existing, key, threads);
    if (port && file != INVALID_HANDLE_VALUE) {
        EnterCriticalSection(&lock);
        struct Completion* slot = completionOf(file);
        if (!slot) slot = completionOf(NULL);
        if (slot) *slot = (struct Completion){file, port, key};
        LeaveCriticalSection(&lock);
    }
    return port;
}

static BOOL WINAPI pendingCommWait(HANDLE file, DWORD* mask, OVERLAPPED* overlapped) {
    if (!overlapped) return WaitCommEvent(file, mask, overlapped);
    EnterCriticalSection(&lock);
    struct Wait* slot = waitOn(file);
    if (!slot) slot = waitOn(NULL);
    if (slot) *slot = (struct Wait){file, mask, overlapped};
    if (!poller) poller = CreateThread(NULL, 0, pollWaits, NULL, 0, NULL);
    SetEvent(waitsPending);
    LeaveCriticalSection(&lock);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

static BOOL WINAPI cancelWaits(HANDLE file) {
    EnterCriticalSection(&lock);
    struct Wait* wait = waitOn(file);
    if (wait) wait->file = NULL;
    struct Completion* target = completionOf(file);
    if (target) target->file = NULL; /* the handle is about to be closed and may be reused */
    LeaveCriticalSection(&lock);
    return CancelIo(file);
}

static void* replacementFor(const char* name) {
    if (lstrcmpA(name, "WaitCommEvent") == 0) return (void*)pendingCommWait;
    if (lstrcmpA(name, "CreateIoCompletionPort") == 0) return (void*)recordCompletionPort;
    if (lstrcmpA(name, "CancelIo") == 0) return (void*)cancelWaits;
    return NULL;
}

/* Points the module's kernel32 imports at the replacements; returns how many were redirected. */
static int redirectImports(HMODULE module) {
    BYTE* base = (BYTE*)module;
    const IMAGE_NT_HEADERS* headers =
        (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY directory =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int redirected = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR* library =
             (const IMAGE_IMPORT_DESCRIPTOR*)(base + directory.VirtualAddress);
         library->Name; ++library) {
        if (lstrcmpiA((const char*)(base + library->Name), "kernel32.dll") != 0) continue;
        const IMAGE_THUNK_DATA* names =
            (const IMAGE_THUNK_DATA*)(base + library->OriginalFirstThunk);
        IMAGE_THUNK_DATA* addresses = (IMAGE_THUNK_DATA*)(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME* import =
                (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            void* replacement = replacementFor((const char*)import->Name);
            if (!replacement) continue;
            DWORD protection;
            VirtualProtect(&addresses->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            addresses->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&addresses->u1.Function, sizeof(void*), protection, &protection);
            ++redirected;
        }
    }
    return redirected;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    InitializeCriticalSection(&lock);
    waitsPending = CreateEventW(NULL, TRUE, FALSE, NULL);
    setIoCompletion = (SetIoCompletionFn)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                               "NtSetIoCompletion");
    HMODULE serial = GetModuleHandleW(L"Qt6SerialPort.dll");
    /* Refusing to load tells the injector that the program would run without the stand-in. */
    return serial && setIoCompletion && redirectImports(serial) == 3;
}
