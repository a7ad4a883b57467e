// Archive page: keeping published pictures, retention, and the daily
// timelapse video. Its patterns are previewed with today's date.
#pragma once

#include "PropertySheet.h"
#include "archive/ArchiveSettings.h"

#include <ctime>
#include <functional>

// The page's template number, after the five pages of the sheet, and its controls.
constexpr int kArchivePageTemplate = 136;
enum ArchivePageControl {
    IDC_USE_ARCHIVE = 1100,
    IDC_ARCHIVE_FOLDER,
    IDC_ARCHIVE_BROWSE,
    IDC_ARCHIVE_NAME,
    IDC_ARCHIVE_MIN_SECS,
    IDC_ARCHIVE_KEEP_DAYS,
    IDC_ARCHIVE_MAX_MB,
    IDC_ARCHIVE_PREVIEW,
    IDC_TIMELAPSE,
    IDC_TIMELAPSE_AT,
    IDC_TIMELAPSE_FPS,
    IDC_TIMELAPSE_REMOTE,
    IDC_TIMELAPSE_PREVIEW,
    IDC_ARCHIVE_NOTICE,
};

class CSettingsArchive : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsArchive();

    ArchiveSettings m_settings;
    QString m_strTimelapseAt; // "%H:%M:%S", edited form of nTimelapseAt

    // notice: what the archive wants the user to know (folders it leaves
    // alone); clock: the time the previews show.
    void SetFromSettings(const ArchiveSettings& s, const QString& notice = QString(),
                         std::function<std::time_t()> clock = nullptr);
    ArchiveSettings Settings() const;

    // What the previews show for the current texts.
    QString PicturePreview() const;
    QString VideoPreview() const;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    QString m_strNotice;
    std::function<std::time_t()> m_clock;
    std::time_t Now() const;
    void OnBrowse();
    void UpdatePreviews();
    void UpdateEnabled();
    QString EditText(int id) const;
};

// Validation of the texts as stored: the reason, or empty when usable.
QString CheckArchivePatterns(const QString& folder, const QString& name);
QString CheckTimelapseRemote(const QString& remote);
// "HH:MM[:SS]" to seconds after midnight; -1 when it is not a time of day.
int ParseTimeOfDay(const QString& text);
