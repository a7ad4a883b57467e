#include "SpineArchivePorts.h"

#include "CCameraApp.h"
#include "platform/afx/log.h"
#include "service/HealthReport.h"

void SpineArchivePorts::Status(const QString& text)
{
    m_app.m_upload.ShowStatus(text);
}

void SpineArchivePorts::Log(const QString& text)
{
    LogLine("archive", text);
}

bool SpineArchivePorts::UploadsOn() const
{
    return m_app.m_upload.m_bUseFtp != 0;
}

bool SpineArchivePorts::EngineBusy() const
{
    return m_app.m_bSessionActive || m_app.m_bModalOpen;
}

// Through the engine's own connection, temporary name and rename, with every
// status line; the session flag keeps the schedule off the engine meanwhile.
bool SpineArchivePorts::Publish(const QString& local, const QString& remote)
{
    CUpload& u = m_app.m_upload;
    m_app.m_bSessionActive = 1;
    u.m_bAbort = 0;
    u.m_bQuietTransfer = 0;
    const bool ok =
        u.Connect() && u.Transfer(local, remote, FTP_TRANSFER_TYPE_BINARY) && !u.m_bAbort;
    u.Disconnect();
    m_app.m_bSessionActive = 0;
    return ok;
}

void SpineArchivePorts::ArchiveStateChanged(bool ok, const QString& reason)
{
    m_app.m_service.SetArchiveState(ok, reason);
}

void SpineArchivePorts::QueueChanged(int length, std::time_t oldest)
{
    m_app.m_service.SetQueueState(length, oldest);
}

QString SpineArchivePorts::StateFolder() const
{
    return StateDirectory();
}

std::time_t SpineArchivePorts::Now() const
{
    return CCameraApp::Now();
}
