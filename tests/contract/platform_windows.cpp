// The platform tests on a real system: the tests' key and folder cleared
// before each test, the test program itself as the child program, and the
// capture box the test runner registered for the machine.
#include "contract.h"

#include <cstdio>
#include <cstring>

namespace contract {

namespace {

// RegDeleteTree is newer than the systems the programs run on.
void deleteTree(HKEY parent, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
    char child[256];
    for (;;) {
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        deleteTree(key, child);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

std::string folder() {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return "C:\\ContractTests";
    return std::string(temp) + "ContractTests";
}

}  // namespace

void resetPlatform() {
    deleteTree(HKEY_CURRENT_USER, kRegistryRoot);
    const std::string dir = folder();
    CreateDirectoryA(dir.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((dir + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    // Messages a test before left in the queue.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

HINSTANCE testModule() { return GetModuleHandleA(nullptr); }

std::string filePath(const std::string& name) { return folder() + "\\" + name; }

void writeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == bytes.size()) << path;
}

std::string childCommand(DWORD exitCode, DWORD ms) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) return "";
    // A copy under a name with a space, as uninstall command lines name
    // programs under "Program Files"; the first start of a test makes it.
    const std::string child = filePath("child program.exe");
    if (!CopyFileA(self, child.c_str(), TRUE) && GetLastError() != ERROR_FILE_EXISTS) return "";
    char args[64];
    std::snprintf(args, sizeof args, " --child=%lu,%lu", static_cast<unsigned long>(exitCode),
                  static_cast<unsigned long>(ms));
    return "\"" + child + "\"" + args;
}

}  // namespace contract
