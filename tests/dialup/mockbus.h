// A private bus in place of the system bus, and NetworkManager's mock on it.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

// Active connection states as NetworkManager numbers them.
constexpr uint kActivating = 1;
constexpr uint kActivated = 2;

// The dbusmock networkmanager template with the dial-up overrides loaded. The
// private bus itself is started once per test program, before the first
// system bus connection is made.
class NetworkManagerMock
{
public:
    NetworkManagerMock();
    ~NetworkManagerMock();
    bool running() const { return m_running; }

    // settings/secrets: JSON objects of settings, e.g. {"gsm": {"username": "web"}}.
    QString AddProfile(const QString& id, const QString& type, const QString& settings = "{}",
                       const QString& secrets = "{}");
    QString AddActive(const QString& id, uint state);
    // Outcomes of the next activations of a profile: "ok:MS", "fail:REASON:MS",
    // "hang", "deny", "nodevice".
    void SetPlan(const QString& id, const QStringList& outcomes);
    void SetHangUpDelay(int ms);
    // What the mock was asked: "ActivateConnection <id>", "DeactivateConnection <id>".
    QStringList CallLog();
    QStringList ActiveIds();
    // Replaces a method of a mock object with Python code (dbusmock's AddMethod).
    void Override(const QString& path, const QString& method, const QString& outSignature,
                  const QString& code);

private:
    QVariant Mock(const char* method, const QList<QVariant>& args = {},
                  const QString& path = QStringLiteral("/org/freedesktop"));

    QProcess m_process;
    bool m_running = false;
};
