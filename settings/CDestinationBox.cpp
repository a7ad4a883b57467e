#include "CDestinationBox.h"

#include "PropertySheet.h"
#include "platform/afx/afx.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace
{
enum {
    kServer = 1004,
    kUsername = 1005,
    kPassword = 1006,
    kRemote = 1011,
    kServerLabel = 1044,
    kUsernameLabel,
    kPasswordLabel,
    kRemoteLabel,
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
};

bool IsHttp(int protocol)
{
    return protocol >= int(VIZO_PROTOCOL_WEBDAV);
}
} // namespace

template <typename T> T* CDestinationBox::Add(int id, QRect du)
{
    T* w = new T(this);
    w->setObjectName(QString::number(id));
    w->setGeometry(
        m_du.rect(du.x(), du.y(), du.width(), du.height()).translated(0, -m_du.y(m_topDu)));
    return w;
}

template <typename T> T* CDestinationBox::Add(int id, const QString& text, QRect du)
{
    T* w = Add<T>(id, du);
    w->setText(text);
    return w;
}

CDestinationBox::CDestinationBox(QWidget* page, int topDu, int heightDu)
    : QWidget(page), m_topDu(topDu)
{
    setGeometry(0, m_du.y(topDu), page->width(), m_du.y(heightDu));
    auto* protocol = Add<QComboBox>(kProtocol, QRect(62, 22, 158, 13));
    for (int i = 0; i < kProtocolCount; ++i)
        protocol->addItem(ProtocolName(i));
    Add<QLabel>(kProtocolLabel, QStringLiteral("Pro&tocol"), QRect(7, 24, 53, 9))
        ->setBuddy(protocol);
    static const struct {
        int edit, label;
        const char* text;
    } rows[] = {
        {kServer, kServerLabel, "FTP &host"},         {kUsername, kUsernameLabel, "&Username"},
        {kPassword, kPasswordLabel, "&Password"},     {kRemote, kRemoteLabel, "&Remote path"},
        {kServerKey, kServerKeyLabel, "Server &key"}, {kPrivateKey, kPrivateKeyLabel, "Key fil&e"}};
    int y = 39;
    for (const auto& row : rows) {
        const int width = row.edit == kPrivateKey ? 122 : 158;
        auto* edit = Add<QLineEdit>(row.edit, QRect(62, y, width, 13));
        Add<QLabel>(row.label, QString::fromLatin1(row.text), QRect(7, y + 2, 53, 9))
            ->setBuddy(edit);
        y += 17;
    }
    static_cast<QLineEdit*>(Item(kPassword))->setEchoMode(QLineEdit::Password);
    static_cast<QLineEdit*>(Item(kServerKey))
        ->setPlaceholderText(QStringLiteral("optional: sha256//... or SHA256:..."));
    Add<QPushButton>(kBrowseKey, QStringLiteral("&Browse..."), QRect(186, y - 18, 34, 15));
    static const struct {
        int edit, label;
        const char* text;
        const char* hint;
    } httpRows[] = {{kRegion, kRegionLabel, "Re&gion", "us-east-1"},
                    {kFormField, kFormFieldLabel, "Form fi&eld", "file"}};
    for (const auto& row : httpRows) {
        auto* edit = Add<QLineEdit>(row.edit, QRect(62, y - 17, 158, 13));
        edit->setPlaceholderText(QString::fromLatin1(row.hint));
        Add<QLabel>(row.label, QString::fromLatin1(row.text), QRect(7, y - 15, 53, 9))
            ->setBuddy(edit);
    }
    Add<QLabel>(kModeLabel, QStringLiteral("Mode"), QRect(7, 143, 53, 9));
    Add<QRadioButton>(kModeAutomatic, QStringLiteral("Aut&omatic"), QRect(62, 142, 50, 10));
    Add<QRadioButton>(kModePassive, QStringLiteral("Pass&ive"), QRect(116, 142, 45, 10));
    Add<QRadioButton>(kModeActive, QStringLiteral("A&ctive"), QRect(165, 142, 45, 10));

    connect(static_cast<QPushButton*>(Item(kBrowseKey)), &QPushButton::clicked, this,
            [this] { OnBrowseKey(); });
    connect(protocol, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
}

QWidget* CDestinationBox::Item(int id) const
{
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

FtpDestination CDestinationBox::Current() const
{
    auto text = [this](int id) { return static_cast<QLineEdit*>(Item(id))->text(); };
    FtpDestination d;
    d.strServer = text(kServer);
    d.strUsername = text(kUsername);
    d.strPassword = text(kPassword);
    d.strRemotePath = text(kRemote);
    FtpTransportSettings& t = d.transport;
    t.nProtocol = static_cast<QComboBox*>(Item(kProtocol))->currentIndex();
    for (int mode = kTransferAutomatic; mode <= kTransferActive; ++mode)
        if (static_cast<QRadioButton*>(Item(kModeAutomatic + mode))->isChecked())
            t.nTransferMode = mode;
    t.strServerKey = text(kServerKey);
    t.strPrivateKey = text(kPrivateKey);
    t.strRegion = text(kRegion);
    t.strFormField = text(kFormField);
    return d;
}

void CDestinationBox::Exchange(CDataExchange& dx, FtpDestination& d, bool check)
{
    FtpTransportSettings& t = d.transport;
    auto* protocol = static_cast<QComboBox*>(Item(kProtocol));
    if (!dx.m_bSaveAndValidate) {
        // An unknown stored value selects nothing: OK then asks for a choice
        // rather than silently picking one.
        protocol->setCurrentIndex(t.nProtocol >= 0 && t.nProtocol < kProtocolCount ? t.nProtocol
                                                                                   : -1);
        for (int mode = kTransferAutomatic; mode <= kTransferActive; ++mode)
            static_cast<QRadioButton*>(Item(kModeAutomatic + mode))
                ->setChecked(t.nTransferMode == mode);
    }
    DDX_Text(dx, kServer, d.strServer);
    DDX_Text(dx, kUsername, d.strUsername);
    DDX_Text(dx, kPassword, d.strPassword);
    DDX_Text(dx, kRemote, d.strRemotePath);
    DDX_Text(dx, kServerKey, t.strServerKey);
    DDX_Text(dx, kPrivateKey, t.strPrivateKey);
    DDX_Text(dx, kRegion, t.strRegion);
    DDX_Text(dx, kFormField, t.strFormField);
    if (!dx.m_bSaveAndValidate || dx.Failed())
        return;
    dx.PrepareCtrl(kProtocol);
    if (protocol->currentIndex() < 0) {
        dx.Fail(QStringLiteral("Please choose a protocol."));
        return;
    }
    const FtpDestination shown = Current();
    t.nProtocol = shown.transport.nProtocol;
    t.nTransferMode = shown.transport.nTransferMode;
    if (!check)
        return;
    ValidateHttp(dx, d);
    if (dx.Failed())
        return;
    dx.PrepareCtrl(kServerKey);
    const QString problem = ServerKeyProblem(t.nProtocol, t.strServerKey);
    if (!problem.isEmpty()) {
        dx.Fail(problem);
        return;
    }
    const QString& key = t.strPrivateKey;
    if (t.nProtocol == VIZO_PROTOCOL_SFTP && !key.isEmpty()) {
        dx.PrepareCtrl(kPrivateKey);
        if (!QFileInfo(key).isFile() || !QFileInfo(key).isReadable())
            dx.Fail(QStringLiteral("The private key file cannot be read:\n%1").arg(key));
    }
}

// Only the fields the chosen kind shows are checked.
void CDestinationBox::ValidateHttp(CDataExchange& dx, const FtpDestination& d)
{
    const int protocol = d.transport.nProtocol;
    if (!IsHttp(protocol))
        return;
    dx.PrepareCtrl(kServer);
    QString problem = ServerUrlProblem(protocol, d.strServer);
    if (problem.isEmpty()) {
        dx.PrepareCtrl(protocol == VIZO_PROTOCOL_S3 ? int(kRegion) : int(kFormField));
        FtpTransportSettings t = d.transport;
        t.strServerKey.clear(); // checked on its own, with its own focus
        problem = TransportProblem(t);
    }
    if (!problem.isEmpty())
        dx.Fail(problem);
}

void CDestinationBox::SetActive(bool on)
{
    m_active = on;
    UpdateControls();
}

void CDestinationBox::UpdateControls()
{
    const bool on = m_active;
    for (int id : {kServer, kServerLabel, kUsername, kUsernameLabel, kPassword, kPasswordLabel,
                   kRemote, kRemoteLabel, kProtocol, kProtocolLabel, kServerKey, kServerKeyLabel})
        Item(id)->setEnabled(on);
    const int protocol = static_cast<QComboBox*>(Item(kProtocol))->currentIndex();
    const bool sftp = protocol == VIZO_PROTOCOL_SFTP;
    for (int id : {kPrivateKey, kPrivateKeyLabel, kBrowseKey})
        Item(id)->setEnabled(on && sftp);
    for (int id : {kModeLabel, kModeAutomatic, kModePassive, kModeActive})
        Item(id)->setEnabled(on && !sftp && !IsHttp(protocol));
    const struct {
        std::initializer_list<int> ids;
        bool shown;
    } kinds[] = {{{kPrivateKey, kPrivateKeyLabel, kBrowseKey}, !IsHttp(protocol)},
                 {{kRegion, kRegionLabel}, protocol == VIZO_PROTOCOL_S3},
                 {{kFormField, kFormFieldLabel}, protocol == VIZO_PROTOCOL_HTTP_POST}};
    for (const auto& kind : kinds)
        for (int id : kind.ids) {
            Item(id)->setVisible(kind.shown);
            Item(id)->setEnabled(on && kind.shown);
        }
    static const char* const hostLabels[] = {"FTP &host", "Server &URL"};
    static_cast<QLabel*>(Item(kServerLabel))
        ->setText(QString::fromLatin1(hostLabels[IsHttp(protocol) ? 1 : 0]));
    static_cast<QLineEdit*>(Item(kServer))
        ->setPlaceholderText(IsHttp(protocol) ? QStringLiteral("https://host/folder") : QString());
}

void CDestinationBox::OnBrowseKey()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    auto* edit = static_cast<QLineEdit*>(Item(kPrivateKey));
    dialog.setDirectory(edit->text().isEmpty() ? QDir::home().filePath(QStringLiteral(".ssh"))
                                               : QFileInfo(edit->text()).absolutePath());
    if (AfxRunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    edit->setText(dialog.selectedFiles().first());
}
