// The upload engine: the settings record, the bound network libraries and the
// current connection.
#pragma once

#include "net/FtpTransport.h"
#include "platform/inet/wininet.h"
#include "platform/ras/ras.h"

#include <QString>

class CUpload
{
public:
    CUpload();
    ~CUpload();
    CUpload(const CUpload&) = delete;
    CUpload& operator=(const CUpload&) = delete;

    // Library binding: 0 bound, -1 library not found, -2 an entry point missing.
    int LoadInternetLibrary();
    int LoadDialupLibrary();
    void FreeInternetLibrary();
    void FreeDialupLibrary();

    // Forwards to the main window's status line and repaints it at once;
    // only logged while there is no main window.
    void ShowStatus(const QString& text);

    // Dial-up connection.
    HRASCONN Dial();
    void HangUp(HRASCONN connection);

    // FTP session and transfer.
    HINTERNET OpenInternet();
    void CloseInternet(HINTERNET internet);
    HINTERNET OpenFtpSession(HINTERNET internet);
    void CloseFtpSession(HINTERNET session);
    bool PutFile(HINTERNET session, const QString& localPath, const QString& remoteName,
                 DWORD transferType);
    bool Transfer(const QString& localPath, const QString& remoteName, DWORD transferType);
    bool UploadFile();
    bool Connect();
    void Disconnect();
    void Abort();
    bool HangUpIfAborted();
    void ReportFailure(const QString& description);
    // The [FTP] settings as a destination.
    FtpDestination FirstDestination() const;
    // Where the engine publishes now: m_pPublishing, or else the first.
    FtpDestination ActiveDestination() const;

    // Entry points of the Internet layer, in table order.
    struct InternetTable {
        PFN_FtpPutFileA FtpPutFileA;
        PFN_InternetOpenA InternetOpenA;
        PFN_InternetCloseHandle InternetCloseHandle;
        PFN_FtpRenameFileA FtpRenameFileA;
        PFN_FtpDeleteFileA FtpDeleteFileA;
        PFN_InternetConnectA InternetConnectA;
        PFN_InternetQueryOptionA InternetQueryOptionA;
    } m_inet{};

    // Entry points of the dial-up layer, in table order.
    struct DialupTable {
        PFN_RasDialA RasDialA;
        PFN_RasEnumConnectionsA RasEnumConnectionsA;
        PFN_RasEnumEntriesA RasEnumEntriesA;
        PFN_RasGetConnectStatusA RasGetConnectStatusA;
        PFN_RasGetEntryDialParamsA RasGetEntryDialParamsA;
        PFN_RasGetErrorStringA RasGetErrorStringA;
        PFN_RasGetProjectionInfoA RasGetProjectionInfoA;
        PFN_RasHangUpA RasHangUpA;
    } m_ras{};

    HMODULE m_hWinINet = nullptr;
    HMODULE m_hRasApi = nullptr;
    int m_bDialupAvailable = 0;
    int m_bAbort = 0;

    // The settings record, loaded at start-up and saved on confirmation.
    unsigned m_nDialupRetries = 0;
    int m_bUseDialup = 0;
    QString m_strDialupConnection;
    QString m_strFtpServer;
    QString m_strFtpUsername;
    QString m_strFtpPassword;
    QString m_strLocalPath;
    QString m_strRemotePath;
    int m_bUseFtp = 0;
    int m_bSafeFtp = 0;
    FtpTransportSettings m_ftpTransport;
    unsigned m_nIntervalSecs = 0;
    int m_nFromSecs = 0;
    int m_nToSecs = 0;
    int m_b24Hours = 0;
    int m_nUploadMode = 0;
    int m_nNumSeries = 0;
    int m_nQuality = 0;
    int m_nCaptionHorzPos = 0;
    int m_nCaptionVertPos = 0;
    int m_bShowTime = 0;
    QString m_strTimeFormat;
    QString m_strFontName;
    int m_nFontPointSize = 0;
    COLORREF m_crCaptionColor = 0;
    int m_bQuietTransfer = 0;
    float m_fMaxFps = 0.0f;

    // Destinations 2 to 4, off unless their Use is set.
    static constexpr int kExtraDestinations = 3;
    FtpDestination m_destinations[kExtraDestinations];
    // Set while an upload publishes to a destination other than the first.
    const FtpDestination* m_pPublishing = nullptr;
    // The status line shown last: a failed destination's reason.
    QString m_strLastStatus;

    HRASCONN m_hRasConn = nullptr;
    HINTERNET m_hInternet = nullptr;
    HINTERNET m_hFtpSession = nullptr;

    // Library file names; tests point them at broken stand-ins.
    static const char* s_szInternetLibrary;
    static const char* s_szDialupLibrary;
};

// Whether the closing lines ("Disconnecting...", "Closing FTP session...",
// "FTP session closed.") are shown.
extern bool s_bCloseMessages;

// The value Dial returns when there is no connection of ours to hang up.
inline HRASCONN AllBitsSetConnection()
{
    return reinterpret_cast<HRASCONN>(~UINT_PTR(0));
}
