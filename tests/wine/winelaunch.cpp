// Test aid for Wine, never shipped: starts a program with commwaithook.dll loaded before its
// main() runs, passes its standard streams and exit status through.
//   winelaunch.exe HOOK.dll PROGRAM.exe [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The part of this process's command line after its first `skip` arguments, as typed.
const wchar_t *argumentsAfter(const wchar_t *line, int skip)
{
    for (int i = 0; i < skip; ++i) {
        while (*line == L' ' || *line == L'\t')
            ++line;
        bool quoted = false;
        for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
            if (*line == L'"')
                quoted = !quoted;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

int fail(const char *what)
{
    std::fprintf(stderr, "winelaunch: %s failed (%lu)\n", what, GetLastError());
    return 125;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: winelaunch HOOK.dll PROGRAM.exe [ARGUMENTS...]\n");
        return 125;
    }
    wchar_t hook[MAX_PATH];
    if (!GetFullPathNameW(argv[1], MAX_PATH, hook, nullptr))
        return fail("GetFullPathName");
    std::wstring commandLine = argumentsAfter(GetCommandLineW(), 2);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process))
        return fail("CreateProcess");

    const SIZE_T size = (wcslen(hook) + 1) * sizeof(wchar_t);
    void *remote = VirtualAllocEx(process.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process.hProcess, remote, hook, size, nullptr))
        return fail("WriteProcessMemory");
    auto *loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE loader =
        CreateRemoteThread(process.hProcess, nullptr, 0, loadLibrary, remote, 0, nullptr);
    if (!loader)
        return fail("CreateRemoteThread");
    WaitForSingleObject(loader, INFINITE);
    DWORD loaded = 0;
    GetExitCodeThread(loader, &loaded);
    CloseHandle(loader);
    if (!loaded) {
        TerminateProcess(process.hProcess, 125);
        return fail("LoadLibrary in the program");
    }

    // Ctrl-C and the like reach the program through the shared console; this one waits.
    SetConsoleCtrlHandler(nullptr, TRUE);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return int(status);
}
