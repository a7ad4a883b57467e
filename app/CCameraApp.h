// The application object: start-up, the settings store, the schedule, the
// upload session and the menu commands.
#pragma once

#include "app/Profile.h"
#include "archive/Archive.h"
#include "net/CUpload.h"
#include "service/Watchdog.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <ctime>
#include <functional>
#include <memory>

class CCameraDlg;

class CCameraApp : public QObject
{
    Q_OBJECT
public:
    CCameraApp();
    ~CCameraApp() override;

    // Start-up and the whole running life; always returns false.
    bool InitInstance(const QStringList& arguments);
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
    Archive m_archive{m_upload};
    std::time_t m_timeLastStart = 0;
    std::time_t m_timeNextUpload = 0;
    QString m_strAppDir;
    int m_bModalOpen = 0;

    // Framework state.
    QString m_pszAppName;   // program file's base name: message boxes, store name
    int m_nCmdShow = 1;     // 2 = show minimized
    int m_bServiceMode = 0; // -service: no display, messages logged
    int m_nExitCode = 0;    // the program's exit status
    bool m_bTerminating = false;

    // Exit statuses a service manager acts on (sysexits.h values).
    static constexpr int kExitUnavailable = 69; // no Internet layer, no capture device
    static constexpr int kExitConfig = 78;      // needs a person to configure it
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
    void ParseCommandLine(const QStringList& arguments);
    bool RunTimelapseOption();
    bool ColourCheck();
    void LaunchDisplaySettings();
    QString DefaultPictureDirectory() const;
    bool NeedsGreeting() const;
    void ShowGreetingIfNeeded();
    // Unattended operation: service-mode checks, health report, signals.
    bool ServiceCanStart();
    // SIGTERM/SIGINT end the program, SIGUSR1 uploads now, while the guard lives.
    std::shared_ptr<void> CatchSignals();
    void StartUnattended(CCameraDlg& dlg);
    void StopUnattended();
    void OnTerminate(int signal);

    std::unique_ptr<Profile> m_profile;
    Watchdog m_watchdog;
};

// The one application object of the running program (the last constructed).
CCameraApp* AfxGetApp();

// Dispatches every pending event; a quit request seen is posted again.
void PumpMessages();
