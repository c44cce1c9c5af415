// The process on Windows: a console's Ctrl+C, Ctrl+Break and close.

#include "migration.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> &stopSignal()
{
    static std::atomic<bool> requested{false};
    return requested;
}

BOOL WINAPI requestStop(DWORD)
{
    stopSignal() = true;
    // A closing console ends the process once this returns; the record of the migration stays
    // until a later run completes it.
    return TRUE;
}

}  // namespace

void prepareProcess()
{
    // Writes to a pipe without reader fail on Windows; they never end the process. The Qt built
    // for Windows reports image decoding problems through Qt's own messages.
    SetConsoleCtrlHandler(requestStop, TRUE);
}

QStringList takeLibraryMessages()
{
    return {};
}

bool stopRequested()
{
    return stopSignal();
}
