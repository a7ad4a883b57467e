#include "CSettingsFTP.h"

#include "platform/afx/afx.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace
{
// Controls beyond the original page.
enum {
    kProtocol = 1080,
    kProtocolLabel,
    kServerKey,
    kServerKeyLabel,
    kPrivateKey,
    kPrivateKeyLabel,
    kBrowseKey,
    kModeLabel,
    kModeAutomatic, // the three modes in stored order
    kModePassive,
    kModeActive,
    kRegion, // in the key file's row: each appears for its own protocol
    kRegionLabel,
    kFormField,
    kFormFieldLabel,
    kTest,
};

bool IsHttp(int protocol)
{
    return protocol >= int(VIZO_PROTOCOL_WEBDAV);
}
} // namespace

CSettingsFTP::CSettingsFTP()
    : CPropertyPage(IDD_SETTINGS_FTP, QStringLiteral("FTP"), QSize(227, 170))
{
}

void CSettingsFTP::CreateControls()
{
    Add<QCheckBox>(1043, QStringLiteral("Upload image via &FTP"), QRect(7, 7, 150, 10));
    auto* protocol = Add<QComboBox>(kProtocol, QRect(62, 22, 158, 13));
    for (int i = 0; i < kProtocolCount; ++i)
        protocol->addItem(ProtocolName(i));
    Add<QLabel>(kProtocolLabel, QStringLiteral("Pro&tocol"), QRect(7, 24, 53, 9))
        ->setBuddy(protocol);
    static const struct {
        int edit, label;
        const char* text;
    } rows[] = {{1004, 1044, "FTP &host"},
                {1005, 1045, "&Username"},
                {1006, 1046, "&Password"},
                {1011, 1047, "&Remote path"},
                {kServerKey, kServerKeyLabel, "Server &key"},
                {kPrivateKey, kPrivateKeyLabel, "Key fil&e"}};
    int y = 39;
    for (const auto& row : rows) {
        const int width = row.edit == kPrivateKey ? 122 : 158;
        QLineEdit* edit = Add<QLineEdit>(row.edit, QRect(62, y, width, 13));
        Add<QLabel>(row.label, QString::fromLatin1(row.text), QRect(7, y + 2, 53, 9))
            ->setBuddy(edit);
        y += 17;
    }
    Item<QLineEdit>(1006)->setEchoMode(QLineEdit::Password);
    Item<QLineEdit>(kServerKey)
        ->setPlaceholderText(QStringLiteral("optional: sha256//... or SHA256:..."));
    Add<QPushButton>(kBrowseKey, QStringLiteral("&Browse..."), QRect(186, y - 18, 34, 15));
    static const struct {
        int edit, label;
        const char* text;
        const char* hint;
    } httpRows[] = {{kRegion, kRegionLabel, "Re&gion", "us-east-1"},
                    {kFormField, kFormFieldLabel, "Form fi&eld", "file"}};
    for (const auto& row : httpRows) {
        QLineEdit* edit = Add<QLineEdit>(row.edit, QRect(62, y - 17, 158, 13));
        edit->setPlaceholderText(QString::fromLatin1(row.hint));
        Add<QLabel>(row.label, QString::fromLatin1(row.text), QRect(7, y - 15, 53, 9))
            ->setBuddy(edit);
    }
    CreateTransportControls();
    Add<QCheckBox>(1069, QStringLiteral("&Safe FTP mode"), QRect(62, y + 16, 100, 10));
    Add<QPushButton>(kTest, QStringLiteral("Te&st"), QRect(170, y + 14, 50, 14));

    OnClicked(1043, [this] {
        m_bUseFtp = IsItemChecked(1043) ? 1 : 0;
        UpdateFtpControls();
    });
    OnClicked(kBrowseKey, [this] { OnBrowseKey(); });
    OnClicked(kTest, [this] {
        if (m_onTest)
            m_onTest(ShownDestination(), this);
    });
    connect(protocol, &QComboBox::currentIndexChanged, this, [this] { UpdateFtpControls(); });
}

void CSettingsFTP::CreateTransportControls()
{
    Add<QLabel>(kModeLabel, QStringLiteral("Mode"), QRect(7, 143, 53, 9));
    Add<QRadioButton>(kModeAutomatic, QStringLiteral("Aut&omatic"), QRect(62, 142, 50, 10));
    Add<QRadioButton>(kModePassive, QStringLiteral("Pass&ive"), QRect(116, 142, 45, 10));
    Add<QRadioButton>(kModeActive, QStringLiteral("A&ctive"), QRect(165, 142, 45, 10));
}

void CSettingsFTP::DoDataExchange(CDataExchange& dx)
{
    DDX_Check(dx, 1043, m_bUseFtp);
    DDX_Text(dx, 1004, m_strFtpServer);
    DDX_Text(dx, 1005, m_strFtpUsername);
    DDX_Text(dx, 1006, m_strFtpPassword);
    DDX_Text(dx, 1011, m_strRemotePath);
    DDX_Check(dx, 1069, m_bSafeFtp);
    ExchangeTransport(dx);
}

void CSettingsFTP::ExchangeTransport(CDataExchange& dx)
{
    auto* protocol = Item<QComboBox>(kProtocol);
    if (!dx.m_bSaveAndValidate) {
        // An unknown stored value selects nothing: OK then asks for a choice
        // rather than silently picking one.
        protocol->setCurrentIndex(m_transport.nProtocol < kProtocolCount ? m_transport.nProtocol
                                                                         : -1);
        for (int mode = kTransferAutomatic; mode <= kTransferActive; ++mode)
            CheckItem(kModeAutomatic + mode, m_transport.nTransferMode == mode);
    }
    DDX_Text(dx, kServerKey, m_transport.strServerKey);
    DDX_Text(dx, kPrivateKey, m_transport.strPrivateKey);
    DDX_Text(dx, kRegion, m_transport.strRegion);
    DDX_Text(dx, kFormField, m_transport.strFormField);
    if (!dx.m_bSaveAndValidate || dx.Failed())
        return;
    dx.PrepareCtrl(kProtocol);
    if (protocol->currentIndex() < 0) {
        dx.Fail(QStringLiteral("Please choose a protocol."));
        return;
    }
    m_transport.nProtocol = protocol->currentIndex();
    for (int mode = kTransferAutomatic; mode <= kTransferActive; ++mode)
        if (IsItemChecked(kModeAutomatic + mode))
            m_transport.nTransferMode = mode;
    if (!m_bUseFtp)
        return;
    ValidateHttp(dx);
    if (dx.Failed())
        return;
    dx.PrepareCtrl(kServerKey);
    QString problem = ServerKeyProblem(m_transport.nProtocol, m_transport.strServerKey);
    if (!problem.isEmpty()) {
        dx.Fail(problem);
        return;
    }
    const QString& key = m_transport.strPrivateKey;
    if (m_transport.nProtocol == VIZO_PROTOCOL_SFTP && !key.isEmpty()) {
        dx.PrepareCtrl(kPrivateKey);
        if (!QFileInfo(key).isFile() || !QFileInfo(key).isReadable())
            dx.Fail(QStringLiteral("The private key file cannot be read:\n%1").arg(key));
    }
}

// Only the fields the chosen kind shows are checked.
void CSettingsFTP::ValidateHttp(CDataExchange& dx)
{
    const int protocol = m_transport.nProtocol;
    if (!IsHttp(protocol))
        return;
    dx.PrepareCtrl(1004);
    QString problem = ServerUrlProblem(protocol, m_strFtpServer);
    if (problem.isEmpty()) {
        dx.PrepareCtrl(protocol == VIZO_PROTOCOL_S3 ? int(kRegion) : int(kFormField));
        FtpTransportSettings t = m_transport;
        t.strServerKey.clear(); // checked on its own, with its own focus
        problem = TransportProblem(t);
    }
    if (!problem.isEmpty())
        dx.Fail(problem);
}

void CSettingsFTP::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    UpdateFtpControls();
}

void CSettingsFTP::UpdateFtpControls()
{
    const bool on = m_bUseFtp != 0;
    for (int id : {1004, 1044, 1005, 1045, 1006, 1046, 1011, 1047, 1069, int(kProtocol),
                   int(kProtocolLabel), int(kServerKey), int(kServerKeyLabel)})
        EnableItem(id, on);
    const int protocol = Item<QComboBox>(kProtocol)->currentIndex();
    const bool sftp = protocol == VIZO_PROTOCOL_SFTP;
    for (int id : {kPrivateKey, kPrivateKeyLabel, kBrowseKey})
        EnableItem(id, on && sftp);
    EnableItem(kTest, on && m_onTest);
    for (int id : {kModeLabel, kModeAutomatic, kModePassive, kModeActive})
        EnableItem(id, on && !sftp && !IsHttp(protocol));
    const struct {
        std::initializer_list<int> ids;
        bool shown;
    } kinds[] = {{{kPrivateKey, kPrivateKeyLabel, kBrowseKey}, !IsHttp(protocol)},
                 {{kRegion, kRegionLabel}, protocol == VIZO_PROTOCOL_S3},
                 {{kFormField, kFormFieldLabel}, protocol == VIZO_PROTOCOL_HTTP_POST}};
    for (const auto& kind : kinds)
        for (int id : kind.ids) {
            GetDlgItem(id)->setVisible(kind.shown);
            EnableItem(id, on && kind.shown);
        }
    static const char* const hostLabels[] = {"FTP &host", "Server &URL"};
    Item<QLabel>(1044)->setText(QString::fromLatin1(hostLabels[IsHttp(protocol) ? 1 : 0]));
    Item<QLineEdit>(1004)->setPlaceholderText(
        IsHttp(protocol) ? QStringLiteral("https://host/folder") : QString());
}

FtpDestination CSettingsFTP::ShownDestination() const
{
    FtpDestination d;
    d.strServer = Item<QLineEdit>(1004)->text();
    d.strUsername = Item<QLineEdit>(1005)->text();
    d.strPassword = Item<QLineEdit>(1006)->text();
    d.strRemotePath = Item<QLineEdit>(1011)->text();
    d.bSafeFtp = IsItemChecked(1069) ? 1 : 0;
    d.transport = m_transport; // an unknown stored protocol stays unknown
    const int protocol = Item<QComboBox>(kProtocol)->currentIndex();
    if (protocol >= 0)
        d.transport.nProtocol = protocol;
    for (int mode = kTransferAutomatic; mode <= kTransferActive; ++mode)
        if (IsItemChecked(kModeAutomatic + mode))
            d.transport.nTransferMode = mode;
    d.transport.strServerKey = Item<QLineEdit>(kServerKey)->text();
    d.transport.strPrivateKey = Item<QLineEdit>(kPrivateKey)->text();
    d.transport.strRegion = Item<QLineEdit>(kRegion)->text();
    d.transport.strFormField = Item<QLineEdit>(kFormField)->text();
    return d;
}

void CSettingsFTP::OnBrowseKey()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    const QString current = Item<QLineEdit>(kPrivateKey)->text();
    dialog.setDirectory(current.isEmpty() ? QDir::home().filePath(QStringLiteral(".ssh"))
                                          : QFileInfo(current).absolutePath());
    if (AfxRunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    Item<QLineEdit>(kPrivateKey)->setText(dialog.selectedFiles().first());
}
