#include "probe.h"

#include "address.h"
#include "ffmpeg.h"
#include "reader.h"

#include <thread>

QString ProbeResultText(const ProbeResult& result)
{
    if (!result.ok)
        return QStringLiteral("Failed: %1.").arg(result.error);
    return QStringLiteral("%1x%2, %3")
        .arg(result.size.width())
        .arg(result.size.height())
        .arg(result.encoding);
}

std::shared_ptr<SourceProbe> SourceProbe::Start(const CaptureDriver& driver)
{
    InitFfmpeg();
    std::shared_ptr<SourceProbe> probe(new SourceProbe);
    std::thread([probe, driver] { probe->Run(driver); }).detach();
    return probe;
}

void SourceProbe::Run(const CaptureDriver& driver)
{
    SourceReader reader;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reader = &reader;
    }
    if (m_cancelled)
        reader.Cancel();
    ProbeResult r;
    QString error;
    SourceReader::Frame frame;
    if (!reader.Open(driver, {}, &error)) {
        r.error = MaskAddressPasswords(error);
    } else if (!reader.GrabNewest(frame)) {
        r.error = reader.HasEnded() ? reader.EndReason() : QStringLiteral("no frame came");
    } else {
        r.ok = true;
        r.size = reader.NativeSize();
        r.encoding = reader.Encoding();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reader = nullptr;
    m_result = r;
    m_done = true;
}

ProbeResult SourceProbe::Result() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_result;
}

void SourceProbe::Cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    if (m_reader)
        m_reader->Cancel();
}
