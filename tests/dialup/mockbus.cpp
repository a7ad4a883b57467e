#include "mockbus.h"

#include "testsupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace
{

const char kService[] = "org.freedesktop.NetworkManager";

class PrivateSystemBus : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const QString config = m_dir.filePath("bus.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<busconfig><type>system</type>"
                                  "<listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                  "<allow own=\"*\"/><allow receive_sender=\"*\"/></policy>"
                                  "</busconfig>")
                       .arg(m_dir.filePath("bus"))
                       .toUtf8());
        file.close();
        m_daemon.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address"});
        ASSERT_TRUE(m_daemon.waitForReadyRead(10000)) << "dbus-daemon did not start";
        const QByteArray address = m_daemon.readLine().trimmed();
        // Before anything in the process first reaches for the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    }

    void TearDown() override
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

const auto* g_bus = ::testing::AddGlobalTestEnvironment(new PrivateSystemBus);

bool Registered()
{
    return QDBusConnection::systemBus().interface()->isServiceRegistered(kService);
}

bool WaitFor(bool registered)
{
    QDeadlineTimer deadline(15000);
    while (Registered() != registered) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

NetworkManagerMock::NetworkManagerMock()
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(TestPython(), {"-m", "dbusmock", "--template", "networkmanager"});
    m_running = m_process.waitForStarted() && WaitFor(true);
    if (!m_running) {
        ADD_FAILURE() << "NetworkManager mock did not come up";
        return;
    }
    Mock("AddTemplate",
         {QStringLiteral(VIZO_SOURCE_DIR "/tests/dialup/nm_overrides.py"), QVariantMap()});
}

NetworkManagerMock::~NetworkManagerMock()
{
    m_process.kill();
    m_process.waitForFinished();
    // The next test's mock must not be mistaken for this one.
    EXPECT_TRUE(WaitFor(false));
}

QVariant NetworkManagerMock::Mock(const char* method, const QList<QVariant>& args,
                                  const QString& path)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, path, "org.freedesktop.DBus.Mock", method);
    call.setArguments(args);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method << ": " << reply.errorMessage().toStdString();
    return reply.arguments().value(0);
}

QString NetworkManagerMock::AddProfile(const QString& id, const QString& type,
                                       const QString& settings, const QString& secrets)
{
    QString json = settings;
    json.replace(0, 1,
                 QStringLiteral("{\"connection\": {\"id\": \"%1\", \"type\": \"%2\"}%3")
                     .arg(id, type, settings.trimmed() == "{}" ? "" : ","));
    return Mock("AddDialupProfile", {json, secrets}).toString();
}

QString NetworkManagerMock::AddActive(const QString& id, uint state)
{
    return Mock("AddActiveDialup", {id, state}).toString();
}

void NetworkManagerMock::SetPlan(const QString& id, const QStringList& outcomes)
{
    Mock("SetActivationPlan", {id, outcomes});
}

void NetworkManagerMock::SetHangUpDelay(int ms)
{
    Mock("SetHangUpDelay", {ms});
}
QStringList NetworkManagerMock::CallLog()
{
    return Mock("CallLog").toStringList();
}
QStringList NetworkManagerMock::ActiveIds()
{
    return Mock("ActiveIds").toStringList();
}

void NetworkManagerMock::Override(const QString& path, const QString& method,
                                  const QString& outSignature, const QString& code)
{
    Mock("AddMethod", {QString(), method, QString(), outSignature, code}, path);
}
