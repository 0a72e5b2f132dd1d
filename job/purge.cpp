// Removes printed jobs from the queue of the printer "Orsanto", so that they
// do not accumulate.
#include "job/purge.h"

#include <stdlib.h>
#include <wchar.h>

#include "agent/constants.h"

SpoolerApi g_spooler = {};

namespace {

template <typename Function>
bool BindFunction(HMODULE module, const char* name, Function* function)
{
    // Through void (*)(): the cast to the real signature is meant.
    *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return *function != nullptr;
}

}  // namespace

bool BindSpooler()
{
    HMODULE winspool = LoadLibraryW(L"winspool.drv");
    if (winspool == nullptr)
        return false;
    SpoolerApi api = {};
    if (!BindFunction(winspool, "OpenPrinterW", &api.openPrinter) || !BindFunction(winspool, "EnumJobsW", &api.enumJobs)
        || !BindFunction(winspool, "SetJobW", &api.setJob)
        || !BindFunction(winspool, "ClosePrinter", &api.closePrinter)) {
        FreeLibrary(winspool);
        return false;
    }
    g_spooler = api;  // the library stays loaded for the agent's life
    return true;
}

void PurgePrintedJobs()
{
    wchar_t printerName[ARRAYSIZE(kPrinterName)];
    wmemcpy(printerName, kPrinterName, ARRAYSIZE(kPrinterName));  // the call wants a writable name
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    if (g_spooler.openPrinter == nullptr || !g_spooler.openPrinter(printerName, &printer, &defaults))
        return;

    DWORD needed = 0;
    DWORD returned = 0;
    g_spooler.enumJobs(printer, 0, kPurgePassJobs, 1, nullptr, 0, &needed, &returned);
    BYTE* buffer = needed != 0 ? static_cast<BYTE*>(malloc(needed)) : nullptr;
    if (buffer != nullptr
        && g_spooler.enumJobs(printer, 0, kPurgePassJobs, 1, buffer, needed, &needed, &returned)) {
        const JOB_INFO_1W* jobs = reinterpret_cast<const JOB_INFO_1W*>(buffer);
        DWORD fit = needed / sizeof(JOB_INFO_1W);
        for (DWORD i = 0; i < returned && i < fit; ++i) {
            if (jobs[i].Status & JOB_STATUS_PRINTED)
                g_spooler.setJob(printer, jobs[i].JobId, 0, nullptr, JOB_CONTROL_DELETE);
        }
    }
    free(buffer);
    g_spooler.closePrinter(printer);
}
