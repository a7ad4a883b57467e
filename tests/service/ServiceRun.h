// The program run in service mode as a separate process, as a service
// manager starts it: no display variables, its own settings and state folders.
#pragma once

#include "FtpTestServer.h"
#include "app/Profile.h"
#include "app/SettingsKeys.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>

class ServiceRun
{
public:
    explicit ServiceRun(const QString& source = "Test pattern=lavfi:testsrc2=size=320x240:rate=15")
    {
        QDir().mkpath(Config());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        env.insert("XDG_STATE_HOME", m_dir.path() + "/state");
        env.insert("VIZO_VIDEO_SOURCES", source);
        env.insert("VIZO_LOG_EVERY_FRAME", "1"); // stream tests wait for frames in the log
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(m_dir.path());
    }
    ~ServiceRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString Dir() const { return m_dir.path(); }
    QString Config() const { return m_dir.path() + "/config/Brindlecote"; }
    QString Picture() const { return m_dir.path() + "/pictures/vizo.jpg"; }
    Profile Store() const { return Profile(Config() + "/vizo.conf"); }

    // Settings for the fixture's server, uploads every intervalSecs.
    void Configure(const FtpTestServer& ftp, int intervalSecs, int mode = 0)
    {
        QDir().mkpath(m_dir.path() + "/pictures");
        Profile p = Store();
        p.WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, 0);
        p.WriteString(Keys::FtpServer.section, Keys::FtpServer.entry, ftp.Address());
        p.WriteString(Keys::FtpUsername.section, Keys::FtpUsername.entry, ftp.User());
        p.WriteString(Keys::FtpPassword.section, Keys::FtpPassword.entry, ftp.Password());
        p.WriteString(Keys::LocalPath.section, Keys::LocalPath.entry, Picture());
        p.WriteInt(Keys::IntervalSecs.section, Keys::IntervalSecs.entry, intervalSecs);
        p.WriteInt(Keys::UploadMode.section, Keys::UploadMode.entry, mode);
    }

    void SetEnv(const QString& name, const QString& value)
    {
        QProcessEnvironment env = m_process.processEnvironment();
        env.insert(name, value);
        m_process.setProcessEnvironment(env);
    }
    void Start(const QStringList& args = {"-service"})
    {
        m_process.start(VIZO_BUILD_DIR "/vizo", args);
        ASSERT_TRUE(m_process.waitForStarted(5000));
    }
    void Signal(int sig) { ::kill(pid_t(m_process.processId()), sig); }
    // Waits for the program to end; its exit status, or -1 when it still runs.
    int Exit(int ms)
    {
        if (!WaitFor([this] { return m_process.state() == QProcess::NotRunning; }, ms))
            return -1;
        Log();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }
    QString Log()
    {
        m_log += QString::fromLocal8Bit(m_process.readAll());
        return m_log;
    }
    int Count(const QString& text) { return Log().count(text); }
    bool WaitForLog(const QString& text, int times = 1, int ms = 20000)
    {
        return WaitFor([&] { return Count(text) >= times; }, ms);
    }
    QJsonObject Status() const
    {
        QFile f(m_dir.path() + "/state/vizo/status.json");
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                           : QJsonObject();
    }
    // `vizo -status` against this run's state folder.
    int StatusCommand(QString* out)
    {
        QProcess p;
        p.setProcessEnvironment(m_process.processEnvironment());
        p.start(VIZO_BUILD_DIR "/vizo", {"-status"});
        p.waitForFinished(10000);
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return p.exitCode();
    }
    QStringList TemporaryFiles() const
    {
        return QDir(m_dir.path() + "/pictures").entryList({"*.t??", "*.d??"}, QDir::Files);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_log;
};
