// An IP camera behind a password: a real RTSP server on 127.0.0.1.
#include "CaptureTestSupport.h"
#include "keeper.h"
#include "log.h"
#include "reader.h"

#include <QProcess>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace
{

constexpr const char* kPassword = "s3cret";

class RtspCamera
{
public:
    RtspCamera()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
    }
    ~RtspCamera() { Stop(); }
    bool Start()
    {
        m_process.start("/usr/bin/python3", {VIZO_SOURCE_DIR "/tests/capture/rtspserver.py",
                                             QString::number(m_port), "viewer", kPassword});
        return m_process.waitForStarted(5000) && m_process.waitForReadyRead(15000) &&
               m_process.readAllStandardOutput().contains("ready");
    }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    CaptureDriver Driver(const QString& password) const
    {
        return Source("Door", "",
                      QString("rtsp://viewer:%1@127.0.0.1:%2/cam").arg(password).arg(m_port));
    }

private:
    quint16 m_port = 0;
    QProcess m_process;
};

TEST(RtspCamera, DeliversComesBackAfterARestartAndNeverLogsItsPassword)
{
    RtspCamera camera;
    ASSERT_TRUE(camera.Start());
    LogLines log;
    SourceKeeper keeper;
    keeper.SetWarmUpSetting(0);
    keeper.SetWaitHookForTesting([](auto) { return std::chrono::milliseconds(500); });
    int losses = 0, backs = 0;
    keeper.SetStateHandler([&](const QString&, bool ok) { ++(ok ? backs : losses); });
    QString error;
    ASSERT_TRUE(keeper.Open(camera.Driver(kPassword), {}, &error)) << error.toStdString();
    EXPECT_EQ(keeper.Reader()->NativeSize(), QSize(320, 240));
    EXPECT_EQ(keeper.Reader()->Encoding(), "h264");
    SourceReader::Frame frame;
    EXPECT_TRUE(keeper.Reader()->GrabNewest(frame));

    camera.Stop();
    ASSERT_TRUE(WaitFor([&] { return losses == 1; }, 30000));
    ASSERT_TRUE(camera.Start());
    ASSERT_TRUE(WaitFor([&] { return backs == 2; }, 60000));
    ASSERT_NE(keeper.Reader(), nullptr);
    EXPECT_TRUE(keeper.Reader()->GrabNewest(frame));
    EXPECT_TRUE(log.Lines().filter("Video source 'Door' is back.").size() == 1);
    for (const QString& line : log.Lines())
        EXPECT_FALSE(line.contains(kPassword)) << line.toStdString();
}

TEST(RtspCamera, WrongPasswordIsRefusedWithAReasonThatSaysSo)
{
    RtspCamera camera;
    ASSERT_TRUE(camera.Start());
    LogLines log;
    SourceKeeper keeper;
    QString error;
    EXPECT_FALSE(keeper.Open(camera.Driver("wrong-one"), {}, &error));
    EXPECT_TRUE(error.contains("401 Unauthorized")) << error.toStdString();
    QStringList lines = log.Lines(); // a temporary would end before the loop
    lines << error;
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains("wrong-one")) << line.toStdString();
}

} // namespace
