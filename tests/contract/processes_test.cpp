// Starting a program and waiting for it as the wizard runs an uninstaller,
// and the version answers that choose the programs' NT or Windows 95 ways.
#include "contract.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class Processes : public Contract {
protected:
    void TearDown() override { closeChild(); }
    void closeChild() {
        if (pi_.hProcess) CloseHandle(pi_.hProcess);
        if (pi_.hThread) CloseHandle(pi_.hThread);
        pi_ = PROCESS_INFORMATION{};
    }
    // As the wizard calls it: no application name, the line in a writable buffer.
    BOOL start(const std::string& line) {
        closeChild();
        buffer_.assign(line.begin(), line.end());
        buffer_.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        return CreateProcessA(nullptr, buffer_.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
    }
    PROCESS_INFORMATION pi_ = {};
    std::vector<char> buffer_;
};

// The child runs far longer than it takes to look at it once: a wait of no
// time finds it running, an unbounded one returns when it has ended.
TEST_F(Processes, WaitReturnsWhenTheChildEndsAndItsCodeStays) {
    const DWORD kCode = 1602, kRunMs = 2000;
    const std::string line = contract::childCommand(kCode, kRunMs);
    ASSERT_EQ('"', line[0]);
    ASSERT_LT(line.find(' '), line.find('"', 1)) << "the quoted program path has a space: " << line;
    ASSERT_TRUE(start(line)) << GetLastError();
    EXPECT_EQ(line, std::string(buffer_.data()));  // the line is left as it was
    EXPECT_TRUE(pi_.hProcess && pi_.hThread && pi_.hProcess != pi_.hThread);
    EXPECT_EQ(DWORD{WAIT_TIMEOUT}, WaitForSingleObject(pi_.hProcess, 0));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(pi_.hProcess, &code));
    EXPECT_EQ(DWORD{STILL_ACTIVE}, code);
    EXPECT_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(pi_.hProcess, INFINITE));
    ASSERT_TRUE(GetExitCodeProcess(pi_.hProcess, &code));
    EXPECT_EQ(kCode, code);
    EXPECT_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(pi_.hProcess, 0));  // it stays signalled
    EXPECT_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(pi_.hThread, 0));   // its thread ended with it
    EXPECT_TRUE(CloseHandle(pi_.hProcess));
    EXPECT_TRUE(CloseHandle(pi_.hThread));
    pi_ = PROCESS_INFORMATION{};
}

// A stored uninstall command whose program is gone starts nothing. Wine
// answers "file not found" for a missing folder too; an empty line is
// refused as an invalid parameter by Windows 7 and later.
TEST_F(Processes, CommandLineNamingNoProgramFails) {
    const std::string lines[] = {
        "\"" + contract::filePath("gone uninstaller.exe") + "\" /remove",
        contract::filePath("gone.exe") + " /remove",
        "\"" + contract::filePath("Gone Folder\\uninst.exe") + "\" /remove",
        "",
    };
    for (const std::string& line : lines) {
        SetLastError(0);
        EXPECT_FALSE(start(line)) << line;
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || (line.empty() && error == ERROR_INVALID_PARAMETER))
            << line << ": " << error;
    }
}

using Version = Contract;

// The agent tells the Windows 95 family by GetVersion's high bit, the wizard
// by GetVersionExA's platform: the two answers must agree.
TEST_F(Version, GetVersionAgreesWithGetVersionEx) {
    const DWORD version = GetVersion();
    OSVERSIONINFOA info;
    std::memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(DWORD{VER_PLATFORM_WIN32_NT}, info.dwPlatformId);
    EXPECT_EQ(0u, version & 0x80000000u);
    EXPECT_EQ(info.dwMajorVersion, LOBYTE(LOWORD(version)));
    EXPECT_EQ(info.dwMinorVersion, HIBYTE(LOWORD(version)));
    EXPECT_EQ(LOWORD(info.dwBuildNumber), HIWORD(version));  // NT: the build in the high word

    // OSVERSIONINFOEXA's size is taken as well: eight bytes more are filled.
    struct { OSVERSIONINFOA info; BYTE more[16]; } wrong;
    std::memset(&wrong, 0xAB, sizeof wrong);
    wrong.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA) + 8;
    EXPECT_TRUE(GetVersionExA(&wrong.info));
    EXPECT_EQ(info.dwMajorVersion, wrong.info.dwMajorVersion);
    EXPECT_EQ(0xAB, wrong.more[8]);
    // Any other size is refused and nothing is filled in.
    for (DWORD size : {DWORD{0}, DWORD(sizeof(OSVERSIONINFOA) - 1), DWORD(sizeof(OSVERSIONINFOA) + 1)}) {
        std::memset(&wrong, 0, sizeof wrong);
        wrong.info.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(&wrong.info)) << size;
        EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError()) << size;
        EXPECT_EQ(0u, wrong.info.dwMajorVersion) << size;
    }
}

}  // namespace
