// A check of one destination's settings against its server, with a file of
// its own: log in, make the folder, upload under the temporary name, rename,
// delete. Runs on a worker thread through the Internet layer's entry points
// and never touches a file it did not put there.
#pragma once

#include "net/CUpload.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct ConnectionStep {
    enum Outcome { kOk, kFailed, kSkipped };
    QString name;
    Outcome outcome = kOk;
    QString detail;
};

// What keeps the settings from being tried at all, or empty.
QString DestinationProblem(const FtpDestination& d);

// One line: all went well, or the first failing step and its reason.
QString ConnectionSummary(const std::vector<ConnectionStep>& steps, bool finished);

class ConnectionTest
{
public:
    // Called on the worker thread as each step ends, then once when all have.
    using StepHandler = std::function<void(const ConnectionStep&)>;
    using DoneHandler = std::function<void()>;

    // The table must stay bound until the test has finished.
    ConnectionTest(const CUpload::InternetTable& inet, const FtpDestination& d);
    // Cancels a running test and waits for it.
    ~ConnectionTest();
    ConnectionTest(const ConnectionTest&) = delete;
    ConnectionTest& operator=(const ConnectionTest&) = delete;

    void Start(StepHandler onStep = {}, DoneHandler onDone = {});
    // From any thread: closes the connection in use, so the step under way
    // ends at once and reads "Cancelled".
    void Cancel();
    void Wait();

    std::vector<ConnectionStep> Steps() const;
    bool Finished() const;
    // The remote name of the test file, beside the destination's picture.
    QString TestFileName() const { return m_testName; }

private:
    void Run();
    bool Login();
    void Upload();
    // What of the test file may be on the server.
    enum Left { kNothing, kPerhaps, kWhole };
    void Tidy(const QString& name, Left left);
    void Report(const QString& name, ConnectionStep::Outcome outcome, const QString& detail);
    void SkipRest(const QStringList& names, const QString& why);
    QString Reason(DWORD code) const;
    bool Cancelled() const;
    void Keep(HINTERNET* slot, HINTERNET handle);
    void Close(HINTERNET* slot);

    const CUpload::InternetTable m_inet;
    const FtpDestination m_dest;
    const QString m_testName;
    QTemporaryDir m_local;
    StepHandler m_onStep;
    DoneHandler m_onDone;

    mutable std::mutex m_mutex; // guards what follows
    std::vector<ConnectionStep> m_steps;
    HINTERNET m_internet = nullptr;
    HINTERNET m_session = nullptr;
    bool m_cancelled = false;
    bool m_finished = false;

    std::thread m_worker;
};
