// One upload session: single shot, series or continuous stream, run inside
// the schedule's timer tick on the GUI thread.
#pragma once

#include <QtGlobal>

class CCameraApp;
class CCameraDlg;
class CUpload;
class QFile;
struct SplitName;

// Milliseconds since the program started; frame-rate arithmetic only.
qint64 MillisecondClock();

class UploadSession
{
public:
    explicit UploadSession(CCameraApp& app);
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

    CCameraApp& m_app;
    CUpload& m_u;
    CCameraDlg* m_wnd;
};
