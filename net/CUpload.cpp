#include "CUpload.h"

#include "app/CCameraApp.h"
#include "platform/afx/log.h"
#include "platform/win/module.h"
#include "session/CCameraDlg.h"

bool s_bCloseMessages = false;

const char* CUpload::s_szInternetLibrary = VIZO_INTERNET_LIBRARY;
const char* CUpload::s_szDialupLibrary = VIZO_DIALUP_LIBRARY;

CUpload::CUpload() = default;
CUpload::~CUpload() = default;

namespace
{
// Looks up every name, even after one has failed; keeps the library only when
// all were found.
int BindEntryPoints(const char* library, HMODULE& module, const char* const* names,
                    void** const* targets, int count)
{
    module = LoadLibraryA(library);
    if (!module)
        return -1;
    bool complete = true;
    for (int i = 0; i < count; ++i) {
        *targets[i] = GetProcAddress(module, names[i]);
        complete = complete && *targets[i];
    }
    if (complete)
        return 0;
    FreeLibrary(module);
    module = nullptr;
    return -2;
}

template <typename F> void** Slot(F& pointer)
{
    return reinterpret_cast<void**>(&pointer);
}
} // namespace

int CUpload::LoadInternetLibrary()
{
    static const char* const names[] = {
        "FtpPutFileA",      "InternetOpenA",       "FtpRenameFileA",      "FtpDeleteFileA",
        "InternetConnectA", "InternetCloseHandle", "InternetQueryOptionA"};
    void** const targets[] = {Slot(m_inet.FtpPutFileA),         Slot(m_inet.InternetOpenA),
                              Slot(m_inet.FtpRenameFileA),      Slot(m_inet.FtpDeleteFileA),
                              Slot(m_inet.InternetConnectA),    Slot(m_inet.InternetCloseHandle),
                              Slot(m_inet.InternetQueryOptionA)};
    return BindEntryPoints(s_szInternetLibrary, m_hWinINet, names, targets, 7);
}

int CUpload::LoadDialupLibrary()
{
    static const char* const names[] = {"RasDialA",
                                        "RasEnumConnectionsA",
                                        "RasEnumEntriesA",
                                        "RasGetConnectStatusA",
                                        "RasGetEntryDialParamsA",
                                        "RasGetErrorStringA",
                                        "RasGetProjectionInfoA",
                                        "RasHangUpA"};
    void** const targets[] = {Slot(m_ras.RasDialA),
                              Slot(m_ras.RasEnumConnectionsA),
                              Slot(m_ras.RasEnumEntriesA),
                              Slot(m_ras.RasGetConnectStatusA),
                              Slot(m_ras.RasGetEntryDialParamsA),
                              Slot(m_ras.RasGetErrorStringA),
                              Slot(m_ras.RasGetProjectionInfoA),
                              Slot(m_ras.RasHangUpA)};
    return BindEntryPoints(s_szDialupLibrary, m_hRasApi, names, targets, 8);
}

void CUpload::FreeInternetLibrary()
{
    if (m_hWinINet) {
        FreeLibrary(m_hWinINet);
        m_hWinINet = nullptr;
    }
}

void CUpload::FreeDialupLibrary()
{
    if (m_hRasApi) {
        FreeLibrary(m_hRasApi);
        m_hRasApi = nullptr;
    }
}

void CUpload::ShowStatus(const QString& text)
{
    m_strLastStatus = text;
    CCameraApp* app = AfxGetApp();
    CCameraDlg* wnd = app ? app->m_pMainWnd : nullptr;
    if (!wnd) {
        // Without a window (the command line's jobs) the record is all there is.
        LogStatus(text);
        return;
    }
    wnd->SetStatus(text);
    // The thread is usually about to block in a network call.
    wnd->repaint();
}
