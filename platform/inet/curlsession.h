// What every connection of the layer shares, whatever it speaks: the runner
// of its libcurl calls (worker thread, painting, Cancel), the time-outs, and
// the failure text and log note the entry points pass on.
#pragma once

#include "curlrunner.h"
#include "wintypes.h"

#include <atomic>
#include <curl/curl.h>
#include <string>
#include <utility>

class CurlSession
{
public:
    explicit CurlSession(long timeoutSeconds);
    virtual ~CurlSession() = default;
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Each returns 0 or the platform error code of the failure; FailureText()
    // then holds a reason of the layer's own wording, or nothing.
    virtual DWORD Login() = 0;
    virtual DWORD Put(const char* localPath, const char* remoteName, bool ascii) = 0;
    virtual DWORD Rename(const std::string& from, const std::string& to) = 0;
    virtual DWORD Delete(const std::string& name) = 0;
    const std::string& FailureText() const { return m_failureText; }
    // What the last call did that the log should tell (a remote folder made), once.
    std::string TakeNote() { return std::exchange(m_note, std::string()); }

    // The handle was closed while a call was running: that call fails at once.
    void Cancel() { m_runner.Cancel(); }

protected:
    // Flags the connection busy for one call, refusing a nested call on it.
    class BusyScope
    {
    public:
        explicit BusyScope(std::atomic<bool>& busy) : m_busy(busy), m_owned(!busy.exchange(true)) {}
        ~BusyScope()
        {
            if (m_owned)
                m_busy = false;
        }
        bool Owned() const { return m_owned; }

    private:
        std::atomic<bool>& m_busy;
        bool m_owned;
    };

    CurlRunner m_runner;
    CURL* m_easy; // the runner's
    std::string m_failureText;
    std::string m_note;
};
