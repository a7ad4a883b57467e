// One upload session: single shot, series or continuous stream, run inside
// the schedule's timer tick on the GUI thread.
#pragma once

#include "service/HealthReport.h"
#include "service/NotifyHook.h"

#include <QString>
#include <QtGlobal>
#include <memory>

class CCameraApp;
class Service;
struct ScheduleSettings;
class CCameraDlg;
class CUpload;
class PreciseWake;
class QFile;
struct SplitName;

// Milliseconds since the program started; frame-rate arithmetic only.
qint64 MillisecondClock();
// How long until MillisecondClock() reads `ms`; negative once it has.
qint64 NanosecondsUntilMillisecond(qint64 ms);
// The shortest whole number of milliseconds between frames that keeps the rate
// at most `fps` (positive and finite).
qint64 FramePeriodMs(double fps);

class UploadSession
{
public:
    // The session's outcome goes to the health monitor when it closes.
    UploadSession(CCameraApp& app, Service& health);
    ~UploadSession();
    void Run();

private:
    void Open();
    void Close();
    void SingleShot();
    void Series();
    void Stream();
    bool SeriesNames(SplitName* local, SplitName* remote);
    bool SendSeries(const SplitName& local, const SplitName& remote, unsigned n, int width,
                    bool listOpen, bool ok);
    void FrameRateWait(qint64& start, qint64& prev, qint64& now);
    void ClearPause();
    void SetStatus(const QString& text);
    double MaxFps() const;
    // The outcome, decided where it happens: the first failure names the
    // cause from the status line it left, and summary lines after it do not.
    void Succeeded(const QString& line);
    void Failed();
    void Publish(const QString& started);

    CCameraApp& m_app;
    Service& m_health;
    CUpload& m_u;
    CCameraDlg* m_wnd;
    std::unique_ptr<PreciseWake> m_wake; // made by the first frame-rate wait
    SessionOutcome m_outcome = SessionOutcome::Failure;
    QString m_reason;
    QVector<DestinationHealth> m_destinations; // a single shot's, for the report
};
