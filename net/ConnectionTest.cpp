#include "ConnectionTest.h"

#include "Ftp.h"
#include "FtpCleanup.h"
#include "platform/win/lasterror.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace
{

const QString kSettings = QStringLiteral("Settings");
const QString kPicture = QStringLiteral("Test picture");
const QString kLogin = QStringLiteral("Log in");
const QString kFolder = QStringLiteral("Remote folder");
const QString kUpload = QStringLiteral("Upload");
const QString kRename = QStringLiteral("Rename");
const QString kDelete = QStringLiteral("Delete");
const QString kCancelled = QStringLiteral("Cancelled");
const QString kNotTried = QStringLiteral("Not tried");

constexpr DWORD_PTR kContext = ftpcleanup::kContext;

// A name no camera writes, so that a user's picture is never the one touched.
QString RandomTestName(const QString& remotePath)
{
    const int slash = remotePath.lastIndexOf(QLatin1Char('/'));
    return remotePath.left(slash + 1) +
           QStringLiteral("vizo-test-%1.jpg")
               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QString FolderOf(const QString& remoteName)
{
    QString folder = remoteName.left(qMax(0, remoteName.lastIndexOf(QLatin1Char('/'))));
    while (folder.startsWith(QLatin1Char('/')))
        folder.remove(0, 1);
    return folder;
}

bool Refused(DWORD code)
{
    return code == ERROR_INTERNET_EXTENDED_ERROR || code == ERROR_VIZO_HTTP_STATUS;
}

// The layer makes missing folders inside the upload, so the folder's outcome
// is read from the upload's.
ConnectionStep FolderStep(const FtpDestination& d, const QString& folder, DWORD code,
                          const QString& note, const QString& reason)
{
    using S = ConnectionStep;
    if (d.transport.nProtocol == VIZO_PROTOCOL_S3)
        return {kFolder, S::kSkipped, QStringLiteral("Not needed: the store has no folders")};
    if (d.transport.nProtocol == VIZO_PROTOCOL_HTTP_POST)
        return {kFolder, S::kSkipped, QStringLiteral("Left to the receiving script")};
    if (folder.isEmpty())
        return {kFolder, S::kSkipped, QStringLiteral("None in the remote path")};
    if (code == ERROR_VIZO_REMOTE_FOLDER)
        return {kFolder, S::kFailed, reason};
    if (!note.isEmpty())
        return {kFolder, S::kOk, note};
    // A refusal of the upload itself comes only once the folder is there.
    if (code == 0 || Refused(code))
        return {kFolder, S::kOk, QStringLiteral("%1 is there").arg(folder)};
    return {kFolder, S::kSkipped, QStringLiteral("Not known: the upload did not get that far")};
}

// Whether a failed upload may have left part of the file behind.
bool MayHaveLeft(DWORD code)
{
    return !ftpcleanup::NothingSent(code) && code != ERROR_VIZO_SHORT_TRANSFER &&
           code != ERROR_VIZO_REMOTE_FOLDER && code != ERROR_INTERNET_TIMEOUT;
}

bool WritePicture(const QString& path)
{
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter painter(&image);
    static const QRgb bars[] = {0xffffff, 0xffff00, 0x00ffff, 0x00ff00,
                                0xff00ff, 0xff0000, 0x0000ff, 0x000000};
    for (int i = 0; i < 8; ++i)
        painter.fillRect(i * 20, 0, 20, 120, QColor::fromRgb(bars[i]));
    painter.end();
    return image.save(path, "JPG", 75);
}

bool Bound(const CUpload::InternetTable& t)
{
    return t.FtpPutFileA && t.InternetOpenA && t.InternetCloseHandle && t.FtpRenameFileA &&
           t.FtpDeleteFileA && t.InternetConnectA && t.InternetQueryOptionA;
}

} // namespace

QString DestinationProblem(const FtpDestination& d)
{
    const int protocol = d.transport.nProtocol;
    if (d.strServer.trimmed().isEmpty())
        return QStringLiteral("No server is given.");
    // The protocol first: an unknown one must not be taken for a kind of URL.
    QString problem = TransportProblem(d.transport);
    if (problem.isEmpty())
        problem = ServerUrlProblem(protocol, d.strServer);
    if (!problem.isEmpty())
        return problem;
    // Plain FTP without a user logs in anonymously, a form may need no account.
    if (d.strUsername.isEmpty() && (protocol == VIZO_PROTOCOL_SFTP || protocol == VIZO_PROTOCOL_S3))
        return QStringLiteral("%1 needs a user name.").arg(ProtocolName(protocol));
    const QString& key = d.transport.strPrivateKey;
    if (protocol == VIZO_PROTOCOL_SFTP && !key.isEmpty() && !QFileInfo(key).isReadable())
        return QStringLiteral("The private key file cannot be read: %1").arg(key);
    const QString& remote = d.strRemotePath;
    if (!remote.contains(QLatin1Char('.')))
        return QStringLiteral("Invalid remote filename '%1' (must have file extension)")
            .arg(remote);
    // The test file's temporary is at most as long as the picture's longest.
    if (remote.toUtf8().size() > kMaxRemoteNameBytes ||
        RandomTestName(remote).toUtf8().size() > kMaxRemoteNameBytes)
        return QStringLiteral("Invalid remote filename (longer than %1 bytes)")
            .arg(kMaxRemoteNameBytes);
    return QString();
}

QString ConnectionSummary(const std::vector<ConnectionStep>& steps, bool finished)
{
    bool skipped = false;
    for (const ConnectionStep& step : steps) {
        if (step.outcome == ConnectionStep::kFailed)
            return step.detail.startsWith(kCancelled)
                       ? QStringLiteral("Cancelled during \"%1\".").arg(step.name)
                       : QStringLiteral("\"%1\" failed: %2").arg(step.name, step.detail);
        skipped = skipped || step.outcome == ConnectionStep::kSkipped;
    }
    if (!finished)
        return QStringLiteral("Testing...");
    return skipped ? QStringLiteral("Every step that applies succeeded.")
                   : QStringLiteral("Every step succeeded.");
}

ConnectionTest::ConnectionTest(const CUpload::InternetTable& inet, const FtpDestination& d)
    : m_inet(inet), m_dest(d), m_testName(RandomTestName(d.strRemotePath))
{
}

ConnectionTest::~ConnectionTest()
{
    Cancel();
    Wait();
}

void ConnectionTest::Start(StepHandler onStep, DoneHandler onDone)
{
    if (m_worker.joinable())
        return;
    m_onStep = std::move(onStep);
    m_onDone = std::move(onDone);
    m_worker = std::thread([this] {
        Run();
        Close(&m_session);
        Close(&m_internet);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        if (m_onDone)
            m_onDone();
    });
}

void ConnectionTest::Cancel()
{
    HINTERNET innermost = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        // The worker still closes the outer one; the one closed here is its
        // to forget.
        HINTERNET* slot = m_session ? &m_session : &m_internet;
        std::swap(innermost, *slot);
    }
    if (innermost)
        m_inet.InternetCloseHandle(innermost);
}

void ConnectionTest::Wait()
{
    if (m_worker.joinable())
        m_worker.join();
}

std::vector<ConnectionStep> ConnectionTest::Steps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_steps;
}

bool ConnectionTest::Finished() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finished;
}

bool ConnectionTest::Cancelled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
}

void ConnectionTest::Keep(HINTERNET* slot, HINTERNET handle)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cancelled) {
            *slot = handle;
            return;
        }
    }
    m_inet.InternetCloseHandle(handle);
}

void ConnectionTest::Close(HINTERNET* slot)
{
    HINTERNET handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(handle, *slot);
    }
    if (handle)
        m_inet.InternetCloseHandle(handle);
}

void ConnectionTest::Report(const QString& name, ConnectionStep::Outcome outcome,
                            const QString& detail)
{
    ConnectionStep step{name, outcome, detail};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_steps.push_back(step);
    }
    if (m_onStep)
        m_onStep(step);
}

void ConnectionTest::SkipRest(const QStringList& names, const QString& why)
{
    for (const QString& name : names)
        Report(name, ConnectionStep::kSkipped, why);
}

QString ConnectionTest::Reason(DWORD code) const
{
    // A closed handle fails the call it cut short with a reason of its own.
    return Cancelled() ? kCancelled : FailureReason(m_inet, code);
}

void ConnectionTest::Run()
{
    const QString problem = DestinationProblem(m_dest);
    if (!problem.isEmpty()) {
        Report(kSettings, ConnectionStep::kFailed, problem);
        return SkipRest({kLogin, kFolder, kUpload, kRename, kDelete}, kNotTried);
    }
    QString account = ProtocolName(m_dest.transport.nProtocol) + QStringLiteral(" to ") +
                      ServerForDisplay(m_dest.strServer);
    if (!m_dest.strUsername.isEmpty())
        account += QStringLiteral(" as ") + m_dest.strUsername;
    Report(kSettings, ConnectionStep::kOk, account);
    if (!m_local.isValid() || !WritePicture(m_local.filePath(QStringLiteral("test.jpg")))) {
        Report(kPicture, ConnectionStep::kFailed,
               QStringLiteral("The test picture could not be written in a temporary folder"));
        return SkipRest({kLogin, kFolder, kUpload, kRename, kDelete}, kNotTried);
    }
    if (Login())
        Upload();
}

bool ConnectionTest::Login()
{
    const QStringList rest{kFolder, kUpload, kRename, kDelete};
    if (!Bound(m_inet)) {
        Report(kLogin, ConnectionStep::kFailed, QStringLiteral("The Internet layer is not loaded"));
        SkipRest(rest, kNotTried);
        return false;
    }
    HINTERNET internet =
        m_inet.InternetOpenA("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET session = nullptr;
    if (internet) {
        Keep(&m_internet, internet);
        session = ConnectDestination(m_inet, internet, m_dest, kContext);
    }
    const DWORD code = GetLastError();
    if (session)
        Keep(&m_session, session);
    if (!session || Cancelled()) {
        Report(kLogin, ConnectionStep::kFailed, Reason(code));
        SkipRest(rest, kNotTried);
        return false;
    }
    if (m_dest.transport.nProtocol == VIZO_PROTOCOL_HTTP_POST)
        Report(kLogin, ConnectionStep::kSkipped,
               QStringLiteral("Not on its own: a form is reached only by an upload"));
    else
        Report(kLogin, ConnectionStep::kOk, QStringLiteral("Logged in"));
    return true;
}

void ConnectionTest::Upload()
{
    HINTERNET session = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_session;
    }
    const bool inPlace = PublishesInPlace(m_dest.transport.nProtocol);
    const QString sent = inPlace ? m_testName : m_testName + QStringLiteral(".t00");
    const QString local = m_local.filePath(QStringLiteral("test.jpg"));
    const bool ok =
        m_inet.FtpPutFileA(session, QFile::encodeName(local).constData(), sent.toUtf8().constData(),
                           FTP_TRANSFER_TYPE_BINARY, kContext);
    const DWORD code = ok ? 0 : GetLastError();
    const QString reason = ok ? QString() : Reason(code);
    const QString note = LayerNote(m_inet);
    const ConnectionStep folder = FolderStep(m_dest, FolderOf(m_testName), code, note, reason);
    Report(folder.name, folder.outcome, folder.detail);
    if (!ok) {
        if (folder.outcome == ConnectionStep::kFailed)
            Report(kUpload, ConnectionStep::kSkipped, kNotTried);
        else
            Report(kUpload, ConnectionStep::kFailed, reason);
        Report(kRename, ConnectionStep::kSkipped, kNotTried);
        return Tidy(sent, MayHaveLeft(code) ? kPerhaps : kNothing);
    }
    Report(kUpload, ConnectionStep::kOk,
           QStringLiteral("%1, %2 bytes").arg(sent).arg(QFileInfo(local).size()));
    if (inPlace) {
        Report(kRename, ConnectionStep::kSkipped,
               QStringLiteral("Not used: %1 writes the final name in place")
                   .arg(ProtocolName(m_dest.transport.nProtocol)));
        return Tidy(sent, kWhole);
    }
    if (!ftpcleanup::RenameWithRetries(m_inet, session, sent.toUtf8(), m_testName.toUtf8())) {
        Report(kRename, ConnectionStep::kFailed, Reason(GetLastError()));
        return Tidy(sent, kWhole);
    }
    Report(kRename, ConnectionStep::kOk, QStringLiteral("to %1").arg(m_testName));
    Tidy(m_testName, kWhole);
}

// Removes the test file under the name it has now.
void ConnectionTest::Tidy(const QString& name, Left left)
{
    const QString mayStay = QStringLiteral("%1 may be left on the server").arg(name);
    if (Cancelled())
        return Report(kDelete, ConnectionStep::kSkipped,
                      QStringLiteral("Not tried after the cancel; ") + mayStay);
    if (left == kNothing)
        return Report(kDelete, ConnectionStep::kSkipped, QStringLiteral("Nothing was left"));
    if (m_dest.transport.nProtocol == VIZO_PROTOCOL_HTTP_POST)
        return Report(
            kDelete, ConnectionStep::kSkipped,
            QStringLiteral("A form cannot delete: the receiving script keeps %1").arg(name));
    HINTERNET session = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_session;
    }
    if (m_inet.FtpDeleteFileA(session, name.toUtf8().constData()))
        return Report(kDelete, ConnectionStep::kOk, QStringLiteral("%1 removed").arg(name));
    const DWORD code = GetLastError();
    const QString reason = Reason(code);
    if (reason == kCancelled)
        return Report(kDelete, ConnectionStep::kFailed,
                      kCancelled + QStringLiteral("; ") + mayStay);
    // After a refused upload a refused delete most likely found nothing.
    if (left == kPerhaps && Refused(code))
        return Report(kDelete, ConnectionStep::kSkipped,
                      QStringLiteral("Nothing found to delete (%1)").arg(reason));
    Report(kDelete, ConnectionStep::kFailed, reason + QStringLiteral("; ") + mayStay);
}
