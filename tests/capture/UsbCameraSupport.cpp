#include "UsbCameraSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{
constexpr char kChildFlag[] = "VIZO_TEST_WITH_FAKE_CAMERA";
} // namespace

ChildRun RunWithFakeCamera()
{
    if (qEnvironmentVariableIsSet(kChildFlag))
        return {};
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QTemporaryDir devices;
    QFile node(devices.filePath(QStringLiteral("video0")));
    if (!node.open(QIODevice::WriteOnly))
        return {ChildRun::Failed, "no device folder"};
    node.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VIZO_BUILD_DIR "/libuvcfake.so"));
    env.insert(QString::fromLatin1(kChildFlag), QStringLiteral("1"));
    env.insert(QStringLiteral("VIZO_VIDEO_DEVICE_DIR"), devices.path());
    env.insert(QStringLiteral("UVCFAKE_CARD"), kCard);
    env.insert(QStringLiteral("UVCFAKE_CONTROL_LOG"), devices.filePath(QStringLiteral("controls")));
    env.remove(QStringLiteral("VIZO_VIDEO_SOURCES"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    const bool finished = child.waitForFinished(240000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    ChildRun run;
    run.output = child.readAll().toStdString();
    if (run.output.find("[  SKIPPED ] 1 test") != std::string::npos)
        run.status = ChildRun::Skipped;
    else if (finished && child.exitCode() == 0 &&
             run.output.find("[  PASSED  ] 1 test.") != std::string::npos)
        run.status = ChildRun::Passed;
    else
        run.status = ChildRun::Failed;
    return run;
}

QString DeviceDir()
{
    return qEnvironmentVariable("VIZO_VIDEO_DEVICE_DIR");
}

QString NodePath(int n)
{
    return DeviceDir() + QStringLiteral("/video%1").arg(n);
}

QStringList ControlLog()
{
    QFile file(DeviceDir() + QStringLiteral("/controls"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
