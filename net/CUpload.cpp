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

namespace {
template <typename T> void Resolve(HMODULE module, const char* name, T& slot)
{
    slot = reinterpret_cast<T>(GetProcAddress(module, name));
}
} // namespace

int CUpload::LoadInternetLibrary()
{
    m_hWinINet = LoadLibraryA(s_szInternetLibrary);
    if (!m_hWinINet)
        return -1;
    // Every lookup is made, even after one has failed.
    Resolve(m_hWinINet, "FtpPutFileA", m_inet.FtpPutFileA);
    Resolve(m_hWinINet, "InternetOpenA", m_inet.InternetOpenA);
    Resolve(m_hWinINet, "FtpRenameFileA", m_inet.FtpRenameFileA);
    Resolve(m_hWinINet, "FtpDeleteFileA", m_inet.FtpDeleteFileA);
    Resolve(m_hWinINet, "InternetConnectA", m_inet.InternetConnectA);
    Resolve(m_hWinINet, "InternetCloseHandle", m_inet.InternetCloseHandle);
    Resolve(m_hWinINet, "InternetQueryOptionA", m_inet.InternetQueryOptionA);
    if (m_inet.FtpPutFileA && m_inet.InternetOpenA && m_inet.FtpRenameFileA &&
        m_inet.FtpDeleteFileA && m_inet.InternetConnectA && m_inet.InternetCloseHandle &&
        m_inet.InternetQueryOptionA)
        return 0;
    FreeLibrary(m_hWinINet);
    m_hWinINet = nullptr;
    return -2;
}

int CUpload::LoadDialupLibrary()
{
    m_hRasApi = LoadLibraryA(s_szDialupLibrary);
    if (!m_hRasApi)
        return -1;
    Resolve(m_hRasApi, "RasDialA", m_ras.RasDialA);
    Resolve(m_hRasApi, "RasEnumConnectionsA", m_ras.RasEnumConnectionsA);
    Resolve(m_hRasApi, "RasEnumEntriesA", m_ras.RasEnumEntriesA);
    Resolve(m_hRasApi, "RasGetConnectStatusA", m_ras.RasGetConnectStatusA);
    Resolve(m_hRasApi, "RasGetEntryDialParamsA", m_ras.RasGetEntryDialParamsA);
    Resolve(m_hRasApi, "RasGetErrorStringA", m_ras.RasGetErrorStringA);
    Resolve(m_hRasApi, "RasGetProjectionInfoA", m_ras.RasGetProjectionInfoA);
    Resolve(m_hRasApi, "RasHangUpA", m_ras.RasHangUpA);
    if (m_ras.RasDialA && m_ras.RasEnumConnectionsA && m_ras.RasEnumEntriesA &&
        m_ras.RasGetConnectStatusA && m_ras.RasGetEntryDialParamsA && m_ras.RasGetErrorStringA &&
        m_ras.RasGetProjectionInfoA && m_ras.RasHangUpA)
        return 0;
    FreeLibrary(m_hRasApi);
    m_hRasApi = nullptr;
    return -2;
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
    CCameraApp* app = AfxGetApp();
    CCameraDlg* wnd = app ? app->m_pMainWnd : nullptr;
    if (!wnd)
        return;
    wnd->SetStatus(text);
    // The thread is usually about to block in a network call.
    wnd->repaint();
}
