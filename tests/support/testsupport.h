// Helpers shared by the test programs.
#pragma once

#include "platform/afx/afx.h"
#include "scopedenv.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <ctime>
#include <functional>

// Records every application message box and answers it with OK.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    QStringList texts;
    QList<unsigned> types;

private:
    MessageBoxHandler m_previous;
};

// Records every status line written to the log (main-window status lines).
class StatusRecorder
{
public:
    StatusRecorder();
    ~StatusRecorder();
    QStringList lines;
    void clear() { lines.clear(); }

private:
    std::function<void(const char*, const QString&)> m_previous;
};

// Answers every modal dialog through a handler (which may drive the dialog).
class ModalAnswer
{
public:
    explicit ModalAnswer(ModalHandler handler);
    ~ModalAnswer();
    int count = 0;

private:
    ModalHandler m_previous;
};

// A fixed, settable clock for the application object; restored at the end.
class FixedClock
{
public:
    explicit FixedClock(std::time_t start);
    ~FixedClock();
    std::time_t now;
};

// Sets TZ for the scope and restores it.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();

private:
    QByteArray m_old;
    bool m_had;
};

// Points XDG_CONFIG_HOME at a fresh directory for the scope, and
// XDG_STATE_HOME below it, so a started program's health report stays there.
class ScopedConfigHome
{
public:
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_env{"XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()};
    ScopedEnv m_state{"XDG_STATE_HOME", (m_dir.path() + "/state").toLocal8Bit()};
};

// Local calendar time of a date and time, in the current TZ.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second);

// Pumps events until the condition holds or the time is up; false on time-out.
bool WaitFor(const std::function<bool()>& condition, int milliseconds);

// The Debian Python that has the test modules (pyftpdlib, dbusmock).
QString TestPython();
