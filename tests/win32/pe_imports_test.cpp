// rovanta.scr must start on old Windows: a 32-bit GUI program for subsystem
// version 4.0 that imports only from Windows' own DLLs, and from those only
// calls that Windows 98 and NT 4.0 have. A new import fails here until
// someone has checked it against those versions and added it below.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

using Imports = std::map<std::string, std::set<std::string>>;

// "DLL Name: X" starts a DLL; its rows are "vma hint name".
Imports importsOf(const std::string& dump) {
    Imports imports;
    std::istringstream lines(dump);
    std::string line;
    std::string dll;
    while (std::getline(lines, line)) {
        const auto at = line.find("DLL Name: ");
        if (at != std::string::npos) {
            dll = upper(line.substr(at + 10));
            imports[dll];
            continue;
        }
        if (dll.empty()) continue;
        if (line.empty()) {
            dll.clear();
            continue;
        }
        std::istringstream row(line);
        std::string vma, hint, name;
        if (row >> vma >> hint >> name && hint != "Hint/Ord") imports[dll].insert(name);
    }
    return imports;
}

// Calls present in Windows 98 and Windows NT 4.0 (msvcrt.dll as they ship it).
const Imports& oldWindows() {
    static const Imports known = {
        {"KERNEL32.DLL",
         {"CloseHandle", "CreateSemaphoreA", "CreateSemaphoreW", "DeleteCriticalSection",
          "EnterCriticalSection", "ExitProcess", "FindClose", "FindFirstFileA", "FindNextFileA",
          "FreeLibrary", "GetCommandLineA",
          "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThreadId", "GetExitCodeProcess",
          "GetEnvironmentVariableA", "GetFileAttributesA", "GetLastError", "GetModuleFileNameA",
          "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoA",
          "GetSystemTimeAsFileTime", "GetTickCount", "GetVersionExA", "GlobalAlloc",
          "GlobalFree", "GlobalHandle", "GlobalLock", "GlobalMemoryStatus", "GlobalUnlock",
          "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection",
          "LoadLibraryA", "MultiByteToWideChar", "OpenProcess", "QueryPerformanceCounter", "ReleaseSemaphore",
          "SetLastError", "SetUnhandledExceptionFilter", "Sleep", "TerminateProcess", "TlsAlloc",
          "TlsFree", "TlsGetValue", "TlsSetValue", "UnhandledExceptionFilter", "VirtualProtect",
          "VirtualQuery", "WaitForSingleObject", "WideCharToMultiByte"}},
        {"USER32.DLL",
         {"CharNextA", "CreateWindowExA", "DefWindowProcA", "DialogBoxParamA", "DispatchMessageA",
          "EndDialog", "FillRect", "FindWindowA", "GetClassWord", "GetClientRect",
          "GetCursorPos", "GetDC", "GetDlgItemTextA", "GetForegroundWindow", "GetMessageA",
          "GetMessagePos", "GetMessageTime", "GetParent", "GetSystemMetrics", "IsWindow",
          "KillTimer", "LoadIconA", "MessageBoxA", "PeekMessageA", "PostMessageA",
          "PostQuitMessage", "RegisterClassA", "ReleaseDC", "SendMessageA", "SetCursor",
          "SetDlgItemTextA", "SetForegroundWindow", "SetTimer", "SystemParametersInfoA",
          "TranslateMessage"}},
        {"GDI32.DLL",
         {"BitBlt", "CreateCompatibleDC", "CreateDIBSection", "DeleteDC", "DeleteObject",
          "GdiFlush", "GetStockObject", "GetTextMetricsA", "PatBlt", "SelectObject",
          "SetBkColor", "SetTextColor", "TextOutA"}},
        {"ADVAPI32.DLL", {"RegCloseKey", "RegOpenKeyA", "RegQueryValueExA"}},
        {"COMCTL32.DLL", {"InitCommonControls"}},
        {"COMDLG32.DLL", {"GetOpenFileNameA"}},
        {"MSVCRT.DLL",
         {"__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode",
          "__p__fmode", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_errno",
          "_chsize", "_close", "_commit", "_getpid", "_initterm", "_iob", "_lock", "_onexit", "_open",
          "_setjmp3", "_unlink", "_unlock", "_write", "_stat", "_fstat", "_fileno", "abort", "atoi", "calloc",
          "exit", "fclose", "fflush", "fopen", "fprintf", "fputc", "fputs", "fread", "free",
          "fwrite", "getc", "getenv", "islower", "isspace", "isupper", "isxdigit", "localeconv",
          "longjmp", "malloc", "memchr", "memcpy", "memmove", "memset", "realloc", "setlocale",
          "signal", "sprintf", "snprintf", "_snprintf", "_vsnprintf", "strchr", "strcmp",
          "strerror", "strlen", "strncmp", "strncpy", "strtol", "strtoul", "time", "tolower",
          "ungetc", "vfprintf", "wcslen", "rename", "remove", "fseek", "ftell", "rand", "srand"}},
    };
    return known;
}

class ShippedProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dump = run(std::string(ROVANTA_OBJDUMP) + " -p '" + ROVANTA_SCR + "' 2>&1");
        ASSERT_NE(dump.find("DLL Name:"), std::string::npos) << dump.substr(0, 400);
    }
    std::string dump;
};

TEST_F(ShippedProgram, IsA32BitGuiProgramForSubsystem4) {
    EXPECT_NE(dump.find("file format pei-i386"), std::string::npos);
    EXPECT_NE(dump.find("(Windows GUI)"), std::string::npos);
    EXPECT_NE(dump.find("MajorSubsystemVersion\t4\n"), std::string::npos);
    EXPECT_NE(dump.find("MinorSubsystemVersion\t0\n"), std::string::npos);
}

TEST_F(ShippedProgram, ImportsOnlyWhatOldWindowsHas) {
    const Imports imports = importsOf(dump);
    ASSERT_FALSE(imports.empty());
    for (const auto& [dll, names] : imports) {
        const auto known = oldWindows().find(dll);
        EXPECT_NE(known, oldWindows().end()) << "imports from " << dll
                                             << ", which is not part of Windows";
        if (known == oldWindows().end()) continue;
        for (const std::string& name : names)
            EXPECT_TRUE(known->second.count(name) != 0)
                << dll << " " << name << " is new: check it exists on Windows 98 and NT 4.0";
    }
    // The calls the saver is built around must really be there.
    EXPECT_TRUE(imports.count("USER32.DLL") && imports.at("USER32.DLL").count("DialogBoxParamA"));
    EXPECT_TRUE(imports.count("GDI32.DLL") && imports.at("GDI32.DLL").count("CreateDIBSection"));
}

TEST(ImportParser, ReadsDllsAndNamesAndStopsAtTheBlankLine) {
    const Imports imports = importsOf(
        "\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n"
        "\t946e6\t  136  CloseHandle\n\t946f4\t  240  Sleep\n\n"
        " 00094064\t0009419c 00000000 00000000 000950d8 00094430\n\n"
        "\tDLL Name: msvcrt.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t1\t 2 abort\n");
    ASSERT_EQ(imports.size(), 2u);
    EXPECT_EQ(imports.at("KERNEL32.DLL"), (std::set<std::string>{"CloseHandle", "Sleep"}));
    EXPECT_EQ(imports.at("MSVCRT.DLL"), (std::set<std::string>{"abort"}));
}

}  // namespace
