// The program run in service mode as a separate process, as a service
// manager starts it: no display variables, its own settings and state folders
// (or another run's, under a profile of its own).
#pragma once

#include "FtpTestServer.h"
#include "config/Profile.h"
#include "config/SettingsKeys.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

class ServiceRun
{
public:
    // PROFILE empty: the usual settings. HOME: the user's folders, shared with
    // the run it came from (Home()) to run profiles side by side.
    explicit ServiceRun(const QString& source = "Test pattern=lavfi:testsrc2=size=320x240:rate=15",
                        const QString& profile = QString(),
                        std::shared_ptr<QTemporaryDir> home = std::make_shared<QTemporaryDir>())
        : m_dir(std::move(home)), m_profile(profile)
    {
        QDir().mkpath(Config());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("XDG_CONFIG_HOME", Dir() + "/config");
        env.insert("XDG_STATE_HOME", Dir() + "/state");
        env.insert("XDG_DATA_HOME", Dir() + "/data");
        env.insert("VIZO_VIDEO_SOURCES", source);
        env.insert("VIZO_LOG_EVERY_FRAME", "1"); // stream tests wait for frames in the log
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(Dir());
    }
    ~ServiceRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString Dir() const { return m_dir->path(); }
    std::shared_ptr<QTemporaryDir> Home() const { return m_dir; }
    QString Config() const { return Dir() + "/config/Brindlecote"; }
    QString SettingsFile() const
    {
        return Config() + (m_profile.isEmpty() ? "/vizo.conf" : "/vizo-" + m_profile + ".conf");
    }
    // A profile's run keeps its default picture, which must be its own.
    QString Picture() const
    {
        return m_profile.isEmpty() ? Dir() + "/pictures/vizo.jpg"
                                   : Dir() + "/data/vizo/" + m_profile + "/vizo.jpg";
    }
    Profile Store() const { return Profile(SettingsFile()); }

    // Settings for the fixture's server, uploads every intervalSecs.
    void Configure(const FtpTestServer& ftp, int intervalSecs, int mode = 0)
    {
        QDir().mkpath(Dir() + "/pictures");
        Profile p = Store();
        p.WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, 0);
        p.WriteString(Keys::FtpServer.section, Keys::FtpServer.entry, ftp.Address());
        p.WriteString(Keys::FtpUsername.section, Keys::FtpUsername.entry, ftp.User());
        p.WriteString(Keys::FtpPassword.section, Keys::FtpPassword.entry, ftp.Password());
        if (m_profile.isEmpty())
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
        m_process.start(VIZO_BUILD_DIR "/vizo", WithProfile(args));
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
    QString StateDir() const
    {
        return Dir() + (m_profile.isEmpty() ? "/state/vizo" : "/state/vizo/" + m_profile);
    }
    QString StatusPath() const { return StateDir() + "/status.json"; }
    QProcessEnvironment Environment() const { return m_process.processEnvironment(); }
    qint64 Pid() const { return m_process.processId(); }
    QJsonObject Status() const
    {
        QFile f(StatusPath());
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                           : QJsonObject();
    }
    // `vizo -status` against this run's state folder.
    int StatusCommand(QString* out)
    {
        QProcess p;
        p.setProcessEnvironment(m_process.processEnvironment());
        p.start(VIZO_BUILD_DIR "/vizo", WithProfile({"-status"}));
        const bool ended = p.waitForFinished(10000);
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // Another program on this run's settings and state; its exit status and
    // everything it wrote.
    int Another(const QStringList& args, QString* out, int ms = 20000)
    {
        QProcess p;
        p.setProcessEnvironment(m_process.processEnvironment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(VIZO_BUILD_DIR "/vizo", WithProfile(args));
        const bool ended = p.waitForFinished(ms);
        *out = QString::fromLocal8Bit(p.readAll());
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QStringList TemporaryFiles() const
    {
        return QFileInfo(Picture()).dir().entryList({"*.t??", "*.d??"}, QDir::Files);
    }

private:
    QStringList WithProfile(QStringList args) const
    {
        if (!m_profile.isEmpty())
            args << "-profile" << m_profile;
        return args;
    }

    std::shared_ptr<QTemporaryDir> m_dir;
    QString m_profile;
    QProcess m_process;
    QString m_log;
};

// The packaged unit res/service/SOURCE as the service manager reads it once
// installed beside the program, saved as NAME (an instance name verifies a
// template instantiated): what systemd-analyze said, empty when nothing.
inline QString VerifyUnit(const QString& source, const QString& name, QString* unit)
{
    QFile in(VIZO_SOURCE_DIR "/res/service/" + source);
    if (!in.open(QIODevice::ReadOnly))
        return "cannot read " + in.fileName();
    *unit = QString::fromUtf8(in.readAll()).replace("@VIZO_BINDIR@", VIZO_BUILD_DIR);
    QTemporaryDir dir;
    QFile out(dir.path() + "/" + QString(source).remove(".in"));
    if (!out.open(QIODevice::WriteOnly))
        return "cannot write " + out.fileName();
    out.write(unit->toUtf8());
    out.close();
    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start("systemd-analyze", {"verify", "--man=no", dir.path() + "/" + name});
    if (!verify.waitForFinished(30000))
        return "systemd-analyze did not finish";
    // It warns, exit 0, about values it ignores: a warning is a failure here.
    const QString said = QString::fromLocal8Bit(verify.readAll()).trimmed();
    if (said.isEmpty() && verify.exitCode() != 0)
        return "exit status " + QString::number(verify.exitCode());
    return said;
}
