// The application object: start-up, the settings store, the schedule, the
// upload session and the menu commands.
#pragma once

#include "app/SpineArchivePorts.h"
#include "archive/Archive.h"
#include "config/Profile.h"
#include "net/CUpload.h"
#include "service/Service.h"
#include "service/Watchdog.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <ctime>
#include <functional>
#include <memory>

class CCameraDlg;
struct CommandLine;

class CCameraApp : public QObject
{
    Q_OBJECT
public:
    CCameraApp();
    ~CCameraApp() override;

    // Start-up and the whole running life, from the command line main() read;
    // always returns false.
    bool InitInstance(const CommandLine& line);
    void InstallInternetExtensions();
    void SetRegistryKey(const QString& company);

    // Profile operations over the settings store (defaults before the key is set).
    int GetProfileInt(const char* section, const char* entry, int defaultValue);
    QString GetProfileString(const char* section, const char* entry,
                             const QString& defaultValue = QString());
    bool WriteProfileInt(const char* section, const char* entry, int value);
    bool WriteProfileString(const char* section, const char* entry, const QString& value);
    Profile* profile() { return m_profile.get(); }

    // Schedule.
    void ScheduleNextUpload();
    bool IsWithinUploadPeriod();
    void OnScheduleTick(std::time_t t);
    void OnUploadNow();

    // Upload session.
    void RunUploadSession();
    void SetStatus(const QString& text);

    // Menu commands.
    void OnCommand(int id);
    void OnSettings();
    void OnAppExit();
    void OnAppAbout();
    void OnAbortConnection();
    void OnVideoFormat();
    void OnVideoSource();
    void OnVideoDisplay();
    void OnVideoPreview();
    void OnVideoOverlay();
    void OnHelpFinder();
    void OnHomePage();
    void LaunchBrowser(const QString& url);

    int m_bSessionActive = 0;
    CUpload m_upload;
    Service m_service; // the health monitor; outlives the archive, which reports to it
    SpineArchivePorts m_archivePorts{*this};
    Archive m_archive{m_archivePorts};
    std::time_t m_timeLastStart = 0;
    std::time_t m_timeNextUpload = 0;
    QString m_strAppDir;
    int m_bModalOpen = 0;

    // Framework state.
    QString m_pszAppName;   // program file's base name: message boxes, store name
    QString m_strProfile;   // -profile NAME, already checked; empty: the usual settings
    int m_nCmdShow = 1;     // 2 = show minimized
    int m_bServiceMode = 0; // -service: no display, messages logged
    int m_nExitCode = 0;    // the program's exit status
    bool m_bTerminating = false;

    // Exit statuses a service manager acts on (sysexits.h values).
    static constexpr int kExitUnavailable = 69; // no Internet layer, no capture device
    static constexpr int kExitConfig = 78;      // needs a person to configure it
    static constexpr int kExitUsage = 64;       // a command line that cannot be run
    CCameraDlg* m_pMainWnd = nullptr;
    bool m_bTimelapseCommand = false; // -timelapse: build one day's video and end
    QString m_strTimelapseDay;

    // Seams: tests replace the clock, the display depth and process starting.
    static std::function<std::time_t()> s_clock;
    static std::function<int()> s_displayBitsPerPixel;
    static std::function<bool(const QString& program, const QStringList& args, bool wait)>
        s_startProcess;
    // Full path of the program file; tests point it elsewhere.
    static std::function<QString()> s_programPath;

    static std::time_t Now() { return s_clock(); }

    static const char* const s_szHomePage;
    static const char* const s_szOnlineManual;

private:
    // False (said, exit status set) when the program must not run.
    bool ApplyCommandLine(const CommandLine& line);
    bool RunTimelapseOption();
    void InterruptTimelapse(int signal);
    bool ColourCheck();
    void LaunchDisplaySettings();
    QString DefaultPictureDirectory() const;
    bool NeedsGreeting() const;
    void ShowGreetingIfNeeded();
    // Unattended operation: service-mode checks, health report, signals.
    bool ServiceCanStart();
    void StartUnattended(CCameraDlg& dlg);
    void StopUnattended();
    void OnTerminate(int signal);
    int m_nTimelapseSignal = 0; // the first signal that stopped -timelapse
    // One program per settings file; false (said, exit status set) when
    // another holds it.
    bool TakeInstanceLock();
    bool RefuseSecondInstance(const QString& settings, const QString& holder);

    std::unique_ptr<Profile> m_profile;
    int m_instanceLock = -1;               // held until the program ends
    int m_instanceName = -1;               // likewise
    static constexpr int kExitLocked = 75; // another holds the settings (EX_TEMPFAIL)
    Watchdog m_watchdog;
};

// The one application object of the running program (the last constructed).
CCameraApp* AfxGetApp();

// Dispatches every pending event; a quit request seen is posted again.
void PumpMessages();
