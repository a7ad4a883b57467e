#include "CCameraApp.h"

#include "SettingsModel.h"
#include "capture/CaptionSettings.h"
#include "config/SettingsKeys.h"
#include "platform/afx/afx.h"
#include "service/Service.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"
#include "settings/CConnectionTestDlg.h"
#include "settings/CSettings.h"
#include "settings/CSettingsArchive.h"
#include "settings/CSettingsCameras.h"
#include "settings/CSettingsDestinations.h"
#include "settings/CSettingsDialup.h"
#include "settings/CSettingsFTP.h"
#include "settings/CSettingsPath.h"
#include "settings/CSettingsTime.h"
#include "settings/CSettingsUpload.h"

namespace
{
struct SettingsPages {
    CSettingsDialup dialup;
    CSettingsFTP ftp;
    CSettingsDestinations destinations;
    CSettingsPath path;
    CSettingsUpload upload;
    CSettingsTime time;
    CSettingsArchive archive;
    CSettingsCameras cameras;
};

void CopyIn(const SettingsEdit& e, SettingsPages& p)
{
    p.dialup.m_strDialupConnection = e.strDialupConnection;
    p.dialup.m_nDialupRetries = e.nDialupRetries;
    p.dialup.m_bUseDialup = e.bUseDialup;
    p.ftp.m_strFtpServer = e.strFtpServer;
    p.ftp.m_strFtpUsername = e.strFtpUsername;
    p.ftp.m_strFtpPassword = e.strFtpPassword;
    p.ftp.m_strRemotePath = e.strRemotePath;
    p.ftp.m_bUseFtp = e.bUseFtp;
    p.ftp.m_bSafeFtp = e.bSafeFtp;
    p.ftp.m_transport = e.ftpTransport;
    std::copy(std::begin(e.destinations), std::end(e.destinations),
              std::begin(p.destinations.m_destinations));
    p.path.m_strLocalPath = e.strLocalPath;
    p.path.m_nQuality = e.nQuality;
    p.upload.m_nIntervalCount = e.nIntervalCount;
    p.upload.m_nIntervalUnit = e.nIntervalUnit;
    p.upload.m_strFrom = e.strFrom;
    p.upload.m_strTo = e.strTo;
    p.upload.m_b24Hours = e.b24Hours;
    p.upload.m_nUploadMode = e.nUploadMode;
    p.upload.m_nNumSeries = e.nNumSeries;
    p.upload.m_fMaxFps = e.fMaxFps;
    p.upload.m_bRetryFailed = e.bRetryFailed;
    p.time.m_bShowTime = e.bShowTime;
    p.time.m_nCaptionHorzPos = e.nCaptionHorzPos;
    p.time.m_nCaptionVertPos = e.nCaptionVertPos;
    p.time.m_strTimeFormat = e.strTimeFormat;
    p.time.m_strFontName = e.strFontName;
    p.time.m_nFontPointSize = e.nFontPointSize;
    p.time.m_crCaptionColor = e.crCaptionColor;
}

SettingsEdit CopyOut(const SettingsPages& p)
{
    SettingsEdit e;
    e.strDialupConnection = p.dialup.m_strDialupConnection;
    e.nDialupRetries = p.dialup.m_nDialupRetries;
    e.bUseDialup = p.dialup.m_bUseDialup;
    e.strFtpServer = p.ftp.m_strFtpServer;
    e.strFtpUsername = p.ftp.m_strFtpUsername;
    e.strFtpPassword = p.ftp.m_strFtpPassword;
    e.strRemotePath = p.ftp.m_strRemotePath;
    e.bUseFtp = p.ftp.m_bUseFtp;
    e.bSafeFtp = p.ftp.m_bSafeFtp;
    e.ftpTransport = p.ftp.m_transport;
    std::copy(std::begin(p.destinations.m_destinations), std::end(p.destinations.m_destinations),
              std::begin(e.destinations));
    e.strLocalPath = p.path.m_strLocalPath;
    e.nQuality = p.path.m_nQuality;
    e.nIntervalCount = p.upload.m_nIntervalCount;
    e.nIntervalUnit = p.upload.m_nIntervalUnit;
    e.strFrom = p.upload.m_strFrom;
    e.strTo = p.upload.m_strTo;
    e.b24Hours = p.upload.m_b24Hours;
    e.nUploadMode = p.upload.m_nUploadMode;
    e.nNumSeries = p.upload.m_nNumSeries;
    e.fMaxFps = p.upload.m_fMaxFps;
    e.bRetryFailed = p.upload.m_bRetryFailed;
    e.bShowTime = p.time.m_bShowTime;
    e.nCaptionHorzPos = p.time.m_nCaptionHorzPos;
    e.nCaptionVertPos = p.time.m_nCaptionVertPos;
    e.strTimeFormat = p.time.m_strTimeFormat;
    e.strFontName = p.time.m_strFontName;
    e.nFontPointSize = p.time.m_nFontPointSize;
    e.crCaptionColor = p.time.m_crCaptionColor;
    return e;
}
// The changes stay in force for this run either way; the user must know that
// the next start will not have them.
void ReportUnstoredSettings(Profile& store)
{
    const QString why = store.TakeWriteProblem();
    if (why.isEmpty())
        return;
    AfxMessageBox(QStringLiteral("The settings could not be stored in %1 (%2).\n\nThe changes "
                                 "apply until Vizo ends.")
                      .arg(store.filePath(), why));
}
} // namespace

void CCameraApp::OnSettings()
{
    m_bModalOpen = 1;
    CSettings sheet(QStringLiteral("Settings"), nullptr, 0);
    // Declared after the sheet: destroyed first, the pages leave the sheet
    // rather than being deleted by it.
    SettingsPages pages;
    CopyIn(EditFromSettings(m_upload), pages);
    pages.ftp.m_onTest = [this](const FtpDestination& d, QWidget* parent) {
        RunConnectionTestDialog(m_upload.m_inet, d, parent);
    };
    pages.destinations.m_onTest = pages.ftp.m_onTest;
    const QString notify = GetProfileString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry);
    pages.upload.m_strNotifyCommand = notify;
    const DaylightTexts daylight = LoadDaylightTexts(profile());
    pages.upload.m_daylight = daylight;
    pages.archive.SetFromSettings(m_archive.m_settings, m_archive.ForeignNotice(), &Now);
    pages.time.m_extras = CaptionExtrasInForce();
    const QVector<VideoSourceEntry> sources = ReadVideoSources(profile());
    pages.cameras.m_entries = sources;
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{
             &pages.dialup, &pages.ftp, &pages.destinations, &pages.path, &pages.upload,
             &pages.time, &pages.archive, &pages.cameras})
        sheet.AddPage(page);
    if (AfxRunModal(sheet) == IDOK) {
        if (Profile* store = profile()) {
            store->TakeWriteProblem();
            SaveConfirmedSettings(m_upload, CopyOut(pages), *store);
            SaveCaptionExtras(CaptionExtrasInForce(), pages.time.m_extras, *store);
            if (pages.upload.m_strNotifyCommand != notify)
                store->WriteString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
                                   pages.upload.m_strNotifyCommand);
            SaveDaylightTexts(daylight, pages.upload.m_daylight, *store);
            SaveArchiveSettings(m_archive.m_settings, pages.archive.Settings(), *store);
            SaveVideoSources(sources, pages.cameras.m_entries, *store);
            ReportUnstoredSettings(*store);
        }
        if (pages.cameras.m_entries != sources) {
            SetSettingsVideoSources(pages.cameras.m_entries);
            if (m_pMainWnd)
                m_pMainWnd->RebuildDriverMenu();
        }
        if (pages.upload.m_strNotifyCommand != notify)
            m_service.SetNotifyCommand(pages.upload.m_strNotifyCommand);
        SetDaylightRule(DaylightFromText(pages.upload.m_daylight, nullptr));
        m_bModalOpen = 0;
        ScheduleNextUpload();
    } else {
        m_bModalOpen = 0;
    }
}
