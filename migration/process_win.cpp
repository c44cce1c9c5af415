// The process on Windows: a console's Ctrl+C, Ctrl+Break and close.

#include "migration.h"

#include <windows.h>

#include <atomic>

namespace {

// The one state of the run outside it: the console's handler runs on a thread of its own.
std::atomic<bool> stopSignal{false};

BOOL WINAPI requestStop(DWORD)
{
    stopSignal = true;
    // A closing console ends the process once this returns; the record of the migration stays
    // until a later run completes it.
    return TRUE;
}

}  // namespace

void prepareProcess(Run &)
{
    // Writes to a pipe without reader fail on Windows; they never end the process. The Qt built
    // for Windows reports image decoding problems through Qt's own messages.
    SetConsoleCtrlHandler(requestStop, TRUE);
}

QStringList takeLibraryMessages(Run &)
{
    return {};
}

bool stopRequested()
{
    return stopSignal;
}
