#include "testsupport.h"

#include "app/CCameraApp.h"
#include "platform/afx/log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <cstdlib>
#include <ctime>

MessageBoxRecorder::MessageBoxRecorder()
{
    m_previous = AfxSetMessageBoxHandler([this](const QString& text, unsigned type) {
        texts << text;
        types << type;
        return IDOK;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    AfxSetMessageBoxHandler(m_previous);
}

StatusRecorder::StatusRecorder()
{
    m_previous = SetLogObserver([this](const char* kind, const QString& text) {
        if (qstrcmp(kind, "status") == 0)
            lines << text;
    });
}

StatusRecorder::~StatusRecorder()
{
    SetLogObserver(m_previous);
}

ModalAnswer::ModalAnswer(ModalHandler handler)
{
    m_previous = AfxSetModalHandler([this, handler](QDialog& dialog) {
        ++count;
        return handler(dialog);
    });
}

ModalAnswer::~ModalAnswer()
{
    AfxSetModalHandler(m_previous);
}

namespace
{
std::function<std::time_t()> g_savedClock;
}

FixedClock::FixedClock(std::time_t start) : now(start)
{
    g_savedClock = CCameraApp::s_clock;
    CCameraApp::s_clock = [this] { return now; };
}

FixedClock::~FixedClock()
{
    CCameraApp::s_clock = g_savedClock;
}

ScopedTimeZone::ScopedTimeZone(const char* tz)
    : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
{
    qputenv("TZ", tz);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_had)
        qputenv("TZ", m_old);
    else
        qunsetenv("TZ");
    tzset();
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

QString TestPython()
{
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStringLiteral("python3");
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
