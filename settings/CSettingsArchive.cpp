#include "CSettingsArchive.h"

#include "app/SettingsModel.h"
#include "archive/ArchiveNames.h"
#include "platform/afx/afx.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

QString CheckArchivePatterns(const QString& folder, const QString& name)
{
    ArchiveLayout layout;
    QString reason;
    const QString effective = EffectiveFolder(folder);
    return MakeArchiveLayout(effective, name, &layout, &reason) ? QString() : reason;
}

QString CheckTimelapseRemote(const QString& remote)
{
    const QString name = remote.section(QLatin1Char('/'), -1);
    if (!name.contains(QLatin1Char('.')))
        return QStringLiteral("the remote name must end in a file extension such as .mp4");
    if (remote.contains(QLatin1Char('\r')) || remote.contains(QLatin1Char('\n')))
        return QStringLiteral("the remote name must be one line");
    return QString();
}

int ParseTimeOfDay(const QString& text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return -1;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt(), s = m.captured(3).toInt();
    if (h > 23 || min > 59 || s > 59)
        return -1;
    return h * 3600 + min * 60 + s;
}

CSettingsArchive::CSettingsArchive()
    : CPropertyPage(kArchivePageTemplate, QStringLiteral("Archive"), QSize(227, 150))
{
}

void CSettingsArchive::SetFromSettings(const ArchiveSettings& s, const QString& notice,
                                       std::function<std::time_t()> clock)
{
    m_settings = s;
    m_strNotice = notice;
    m_clock = std::move(clock);
    // Stored seconds outside a day are shown reduced, as the Upload page does.
    m_strTimelapseAt = SpanToText(ReduceDaySeconds(std::uint32_t(s.nTimelapseAt)));
}

ArchiveSettings CSettingsArchive::Settings() const
{
    return m_settings;
}

std::time_t CSettingsArchive::Now() const
{
    return m_clock ? m_clock() : std::time(nullptr);
}

void CSettingsArchive::CreateControls()
{
    Add<QCheckBox>(IDC_USE_ARCHIVE, QStringLiteral("&Keep the published pictures in an archive"),
                   QRect(7, 4, 213, 10));
    QLineEdit* folder = Add<QLineEdit>(IDC_ARCHIVE_FOLDER, QRect(48, 17, 117, 13));
    Add<QLabel>(0, QStringLiteral("&Folder:"), QRect(7, 19, 40, 9))->setBuddy(folder);
    Add<QPushButton>(IDC_ARCHIVE_BROWSE, QStringLiteral("&Browse..."), QRect(170, 16, 50, 15));
    folder->setPlaceholderText(DefaultArchiveFolder());

    QLineEdit* name = Add<QLineEdit>(IDC_ARCHIVE_NAME, QRect(48, 34, 62, 13));
    Add<QLabel>(0, QStringLiteral("&Name:"), QRect(7, 36, 40, 9))->setBuddy(name);
    QLineEdit* minSecs = Add<QLineEdit>(IDC_ARCHIVE_MIN_SECS, QRect(180, 34, 40, 13));
    Add<QLabel>(0, QStringLiteral("&Min seconds:"), QRect(118, 36, 60, 9))->setBuddy(minSecs);
    QLineEdit* keep = Add<QLineEdit>(IDC_ARCHIVE_KEEP_DAYS, QRect(48, 51, 62, 13));
    Add<QLabel>(0, QStringLiteral("Kee&p days:"), QRect(7, 53, 40, 9))->setBuddy(keep);
    QLineEdit* maxMb = Add<QLineEdit>(IDC_ARCHIVE_MAX_MB, QRect(180, 51, 40, 13));
    Add<QLabel>(0, QStringLiteral("Ma&x MB:"), QRect(118, 53, 60, 9))->setBuddy(maxMb);
    Add<QLabel>(IDC_ARCHIVE_PREVIEW, QRect(7, 67, 213, 9));

    Add<QCheckBox>(IDC_TIMELAPSE, QStringLiteral("Build and publish a daily &timelapse video"),
                   QRect(7, 84, 213, 10));
    QLineEdit* at = Add<QLineEdit>(IDC_TIMELAPSE_AT, QRect(48, 97, 62, 13));
    Add<QLabel>(0, QStringLiteral("&At:"), QRect(7, 99, 40, 9))->setBuddy(at);
    QLineEdit* fps = Add<QLineEdit>(IDC_TIMELAPSE_FPS, QRect(180, 97, 40, 13));
    Add<QLabel>(0, QStringLiteral("Frames/&s:"), QRect(118, 99, 60, 9))->setBuddy(fps);
    QLineEdit* remote = Add<QLineEdit>(IDC_TIMELAPSE_REMOTE, QRect(48, 114, 172, 13));
    Add<QLabel>(0, QStringLiteral("&Remote:"), QRect(7, 116, 40, 9))->setBuddy(remote);
    Add<QLabel>(IDC_TIMELAPSE_PREVIEW, QRect(7, 131, 213, 9));
    Add<QLabel>(IDC_ARCHIVE_NOTICE, m_strNotice, QRect(7, 141, 213, 9));

    for (QLineEdit* edit : {folder, name, remote})
        connect(edit, &QLineEdit::textChanged, this, &CSettingsArchive::UpdatePreviews);
    OnClicked(IDC_ARCHIVE_BROWSE, [this] { OnBrowse(); });
    OnClicked(IDC_USE_ARCHIVE, [this] { UpdateEnabled(); });
    OnClicked(IDC_TIMELAPSE, [this] { UpdateEnabled(); });
}

void CSettingsArchive::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    UpdateEnabled();
    UpdatePreviews();
}

void CSettingsArchive::DoDataExchange(CDataExchange& dx)
{
    ArchiveSettings& s = m_settings;
    DDX_Check(dx, IDC_USE_ARCHIVE, s.bUseArchive);
    DDX_Text(dx, IDC_ARCHIVE_FOLDER, s.strFolder);
    DDX_Text(dx, IDC_ARCHIVE_NAME, s.strName);
    if (dx.m_bSaveAndValidate && !dx.Failed() && s.bUseArchive) {
        const QString reason = CheckArchivePatterns(s.strFolder, s.strName);
        if (!reason.isEmpty()) {
            dx.PrepareCtrl(IDC_ARCHIVE_NAME);
            dx.Fail(QStringLiteral("The archive cannot use these names: %1.").arg(reason));
        }
    }
    DDX_Text(dx, IDC_ARCHIVE_MIN_SECS, s.nMinSecs);
    DDV_MinMaxUInt(dx, s.nMinSecs, 0, 86400);
    DDX_Text(dx, IDC_ARCHIVE_KEEP_DAYS, s.nKeepDays);
    DDV_MinMaxUInt(dx, s.nKeepDays, 0, 36500);
    DDX_Text(dx, IDC_ARCHIVE_MAX_MB, s.nMaxMB);
    DDV_MinMaxUInt(dx, s.nMaxMB, 0, 2000000);
    DDX_Check(dx, IDC_TIMELAPSE, s.bTimelapse);
    DDX_Text(dx, IDC_TIMELAPSE_AT, m_strTimelapseAt);
    if (dx.m_bSaveAndValidate && !dx.Failed()) {
        const int at = ParseTimeOfDay(m_strTimelapseAt);
        if (at < 0) {
            dx.PrepareCtrl(IDC_TIMELAPSE_AT);
            dx.Fail(QStringLiteral("Please enter a time of day as HH:MM:SS."));
        } else {
            s.nTimelapseAt = at;
        }
    }
    DDX_Text(dx, IDC_TIMELAPSE_FPS, s.nTimelapseFps);
    DDV_MinMaxUInt(dx, s.nTimelapseFps, 1, 120);
    DDX_Text(dx, IDC_TIMELAPSE_REMOTE, s.strTimelapseRemote);
    if (dx.m_bSaveAndValidate && !dx.Failed() && s.bTimelapse) {
        const QString reason = CheckTimelapseRemote(s.strTimelapseRemote);
        if (!reason.isEmpty()) {
            dx.PrepareCtrl(IDC_TIMELAPSE_REMOTE);
            dx.Fail(QStringLiteral("The timelapse cannot be published: %1.").arg(reason));
        }
    }
}

QString CSettingsArchive::EditText(int id) const
{
    const auto* edit = Item<QLineEdit>(id);
    return edit ? edit->text() : QString();
}

QString CSettingsArchive::PicturePreview() const
{
    const QString folder = EditText(IDC_ARCHIVE_FOLDER);
    const QString name = EditText(IDC_ARCHIVE_NAME);
    const QString reason = CheckArchivePatterns(folder, name);
    if (!reason.isEmpty())
        return QStringLiteral("Not usable: ") + reason;
    const QString effective = EffectiveFolder(folder);
    const std::time_t now = Now();
    return QStringLiteral("Sample: ") +
           ExpandTimePattern(QDir::cleanPath(effective.trimmed()), now) + QLatin1Char('/') +
           ExpandTimePattern(name.trimmed(), now);
}

QString CSettingsArchive::VideoPreview() const
{
    const QString remote = EditText(IDC_TIMELAPSE_REMOTE);
    const QString reason = CheckTimelapseRemote(remote);
    if (!reason.isEmpty())
        return QStringLiteral("Not usable: ") + reason;
    // Today's video shows the day before.
    const std::time_t yesterday = StartOfDay(Now()) - 12 * 3600;
    return QStringLiteral("Sample: ") + ExpandTimePattern(remote, yesterday);
}

void CSettingsArchive::UpdatePreviews()
{
    if (auto* label = Item<QLabel>(IDC_ARCHIVE_PREVIEW))
        label->setText(PicturePreview());
    if (auto* label = Item<QLabel>(IDC_TIMELAPSE_PREVIEW))
        label->setText(VideoPreview());
}

void CSettingsArchive::UpdateEnabled()
{
    const bool archive = IsItemChecked(IDC_USE_ARCHIVE);
    for (int id : {IDC_ARCHIVE_FOLDER, IDC_ARCHIVE_BROWSE, IDC_ARCHIVE_NAME, IDC_ARCHIVE_MIN_SECS,
                   IDC_ARCHIVE_KEEP_DAYS, IDC_ARCHIVE_MAX_MB})
        EnableItem(id, archive);
    const bool timelapse = IsItemChecked(IDC_TIMELAPSE);
    for (int id : {IDC_TIMELAPSE_AT, IDC_TIMELAPSE_FPS, IDC_TIMELAPSE_REMOTE})
        EnableItem(id, timelapse);
}

// Picks the fixed part of the folder; the dated part typed after it stays.
void CSettingsArchive::OnBrowse()
{
    const QString current = EditText(IDC_ARCHIVE_FOLDER);
    ArchiveLayout layout;
    QString reason, start = current;
    if (MakeArchiveLayout(EffectiveFolder(current), QStringLiteral("%H.jpg"), &layout, &reason))
        start = layout.root;
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (QDir(start).exists())
        dialog.setDirectory(start);
    if (AfxRunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString dated = layout.dirs.isEmpty() ? QStringLiteral("%Y-%m-%d") : layout.dirs;
    Item<QLineEdit>(IDC_ARCHIVE_FOLDER)
        ->setText(dialog.selectedFiles().first() + QLatin1Char('/') + dated);
}
