// Test aid for running the Windows programs under Wine, never shipped: Qt's Windows serial
// code waits for serial events on an I/O completion port (an OVERLAPPED without an event).
// Wine 8 runs such a WaitCommEvent synchronously, so the caller blocks until a byte comes, and
// posts no completion, so Qt never reads. Loaded into a process, this DLL routes Qt's serial
// waits through an event that Wine does wait on asynchronously, and posts the completion as
// Windows would. Nothing else changes: reads and writes still go through Qt and Wine as they are.
// The wait's completion runs on a thread of the system's pool, so everything it shares with
// Qt's thread is under one lock: the wait's registration, which the pool may need before
// RegisterWaitForSingleObject has returned, and Qt's OVERLAPPED, which is not written once Qt
// has closed the port.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

namespace {

using WaitCommEventFn = BOOL(WINAPI *)(HANDLE, LPDWORD, LPOVERLAPPED);
using CreateIoCompletionPortFn = HANDLE(WINAPI *)(HANDLE, HANDLE, ULONG_PTR, DWORD);
using CloseHandleFn = BOOL(WINAPI *)(HANDLE);

WaitCommEventFn realWaitCommEvent = nullptr;
CreateIoCompletionPortFn realCreateIoCompletionPort = nullptr;
CloseHandleFn realCloseHandle = nullptr;

struct Association
{
    HANDLE port;
    ULONG_PTR key;
};
std::timed_mutex lock;
// The process is ending: the pool's threads are gone, and may have gone holding the lock.
std::atomic<bool> exiting{false};
std::map<HANDLE, Association> associations; // file handle -> its completion port and key

struct PendingWait
{
    OVERLAPPED own{};
    HANDLE file;
    OVERLAPPED *callers;
    Association target;
    HANDLE registration = nullptr;
    bool abandoned = false; // the port was closed: Qt's OVERLAPPED may be gone
};
std::multimap<HANDLE, PendingWait *> pending; // file handle -> its waits in the pool

void complete(PendingWait *wait)
{
    DWORD bytes = 0;
    const BOOL ok = GetOverlappedResult(wait->file, &wait->own, &bytes, FALSE);
    // What GetOverlappedResult reads back from the caller's OVERLAPPED.
    wait->callers->Internal = ok ? 0 : ULONG_PTR(0xC0000120); // STATUS_CANCELLED
    wait->callers->InternalHigh = bytes;
    PostQueuedCompletionStatus(wait->target.port, bytes, wait->target.key, wait->callers);
}

void CALLBACK onSignalled(void *context, BOOLEAN)
{
    auto *wait = static_cast<PendingWait *>(context);
    {
        // Waits for waitCommEvent() to have stored the registration.
        const std::lock_guard<std::timed_mutex> guard(lock);
        if (!wait->abandoned)
            complete(wait);
        for (auto it = pending.lower_bound(wait->file);
             it != pending.end() && it->first == wait->file; ++it) {
            if (it->second == wait) {
                pending.erase(it);
                break;
            }
        }
        UnregisterWait(wait->registration); // from the callback: returns at once
    }
    realCloseHandle(wait->own.hEvent);
    delete wait;
}

BOOL WINAPI waitCommEvent(HANDLE file, LPDWORD mask, LPOVERLAPPED overlapped)
{
    Association target{};
    {
        const std::lock_guard<std::timed_mutex> guard(lock);
        const auto found = associations.find(file);
        if (!overlapped || overlapped->hEvent || found == associations.end())
            return realWaitCommEvent(file, mask, overlapped);
        target = found->second;
    }
    // Pending from here, as Windows says it before it returns: the completion may come on the
    // pool's thread before this function has returned.
    overlapped->Internal = ULONG_PTR(0x103); // STATUS_PENDING
    auto *wait = new PendingWait;
    wait->file = file;
    wait->callers = overlapped;
    wait->target = target;
    wait->own.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (realWaitCommEvent(file, mask, &wait->own)) {
        complete(wait);
        realCloseHandle(wait->own.hEvent);
        delete wait;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const std::lock_guard<std::timed_mutex> guard(lock);
        pending.emplace(file, wait);
        RegisterWaitForSingleObject(&wait->registration, wait->own.hEvent, onSignalled, wait,
                                    INFINITE, WT_EXECUTEONLYONCE);
    } else {
        const DWORD error = GetLastError();
        realCloseHandle(wait->own.hEvent);
        delete wait;
        SetLastError(error);
        return FALSE;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

HANDLE WINAPI createIoCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads)
{
    const HANDLE result = realCreateIoCompletionPort(file, port, key, threads);
    if (result && file != INVALID_HANDLE_VALUE) {
        const std::lock_guard<std::timed_mutex> guard(lock);
        associations[file] = {result, key};
    }
    return result;
}

BOOL WINAPI closeHandle(HANDLE handle)
{
    // A wait still in the pool must not write into the port's OVERLAPPED any more. While the
    // process ends, its other threads are gone, possibly holding the lock, and no callback
    // runs again: nothing to wait for.
    std::unique_lock<std::timed_mutex> guard(lock, std::defer_lock);
    if (!exiting && guard.try_lock_for(std::chrono::seconds(2))) {
        for (auto it = pending.lower_bound(handle); it != pending.end() && it->first == handle;
             ++it)
            it->second->abandoned = true;
        associations.erase(handle);
    }
    return realCloseHandle(handle);
}

// Points `module`'s imports of `name` at `replacement`.
bool patchImport(HMODULE module, const char *name, void *replacement, void **original)
{
    auto *base = reinterpret_cast<BYTE *>(module);
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool patched = false;
    for (auto *desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
         dir.VirtualAddress && desc->Name; ++desc) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char *>(byName->Name), name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &protection);
            if (!*original)
                *original = reinterpret_cast<void *>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void *), protection, &protection);
            patched = true;
        }
    }
    return patched;
}

} // namespace

extern "C" __declspec(dllexport) BOOL commWaitHookInstalled()
{
    return realWaitCommEvent != nullptr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH)
        exiting = true;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    HMODULE serial = GetModuleHandleW(L"Qt6SerialPort.dll");
    if (!serial)
        serial = LoadLibraryW(L"Qt6SerialPort.dll");
    if (!serial)
        return TRUE;
    patchImport(serial, "CreateIoCompletionPort", reinterpret_cast<void *>(createIoCompletionPort),
                reinterpret_cast<void **>(&realCreateIoCompletionPort));
    patchImport(serial, "WaitCommEvent", reinterpret_cast<void *>(waitCommEvent),
                reinterpret_cast<void **>(&realWaitCommEvent));
    patchImport(serial, "CloseHandle", reinterpret_cast<void *>(closeHandle),
                reinterpret_cast<void **>(&realCloseHandle));
    if (!realCloseHandle)
        realCloseHandle = CloseHandle;
    return TRUE;
}
