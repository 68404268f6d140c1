#include "platform/ProcessLookup.h"

// windows.h first: tlhelp32.h depends on what it declares.
#include <windows.h>

#include <tlhelp32.h>

namespace platform {

bool isProcessRunning(const QString& fileName) {
    if (fileName.isEmpty())
        return false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = QString::fromWCharArray(entry.szExeFile).compare(fileName, Qt::CaseInsensitive) == 0;
    CloseHandle(snapshot);
    return found;
}

} // namespace platform
