// The archive's ports as the application provides them: its status line,
// its upload engine and session flag, its health report, its state folder
// and clock.
#pragma once

#include "archive/ArchivePorts.h"

class CCameraApp;

class SpineArchivePorts : public ArchivePorts
{
public:
    explicit SpineArchivePorts(CCameraApp& app) : m_app(app) {}

    void Status(const QString& text) override;
    void Log(const QString& text) override;
    bool UploadsOn() const override;
    bool EngineBusy() const override;
    bool Publish(const QString& local, const QString& remote) override;
    void ArchiveStateChanged(bool ok, const QString& reason) override;
    void QueueChanged(int length, std::time_t oldest) override;
    QString StateFolder() const override;
    std::time_t Now() const override;

private:
    CCameraApp& m_app;
};
