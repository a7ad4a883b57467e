#include "CSettingsUpload.h"

#include "app/CCameraApp.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

CSettingsUpload::CSettingsUpload()
    : CPropertyPage(IDD_SETTINGS_UPLOAD, QStringLiteral("Upload"), QSize(227, 230))
{
}

void CSettingsUpload::CreateControls()
{
    CreatePeriodAndInterval();
    CreateModeAndSpeed();
    CreateDaylight();
}

void CSettingsUpload::CreatePeriodAndInterval()
{
    QGroupBox* period = Add<QGroupBox>(1009, QStringLiteral("Upload period"), QRect(7, 5, 213, 46));
    Add<QRadioButton>(1007, QStringLiteral("&24 hours a day"), QRect(14, 18, 100, 10), period);
    Add<QRadioButton>(1008, QStringLiteral("&Between"), QRect(14, 33, 44, 10), period);
    Add<QLineEdit>(1010, QRect(60, 32, 50, 13), period);
    QLineEdit* to = Add<QLineEdit>(1011, QRect(133, 32, 50, 13), period);
    Add<QLabel>(0, QStringLiteral("&and"), QRect(115, 34, 16, 9), period)->setBuddy(to);
    OnClicked(1007, [this] { m_b24Hours = 1; });
    OnClicked(1008, [this] { m_b24Hours = 0; });

    QGroupBox* every = Add<QGroupBox>(1053, QStringLiteral("Upload every"), QRect(7, 55, 103, 60));
    Add<QLineEdit>(1006, QRect(14, 68, 34, 13), every);
    static const struct {
        int id;
        const char* text;
        unsigned unit;
    } units[] = {{1040, "&hours", 3600}, {1041, "&minutes", 60}, {1042, "&seconds", 1}};
    int y = 67;
    for (const auto& u : units) {
        Add<QRadioButton>(u.id, QString::fromLatin1(u.text), QRect(54, y, 52, 10), every);
        OnClicked(u.id, [this, unit = u.unit] { m_nIntervalUnit = unit; });
        y += 14;
    }
}

void CSettingsUpload::CreateModeAndSpeed()
{
    QGroupBox* mode = Add<QGroupBox>(1048, QStringLiteral("Mode"), QRect(117, 55, 103, 60));
    Add<QRadioButton>(1049, QStringLiteral("S&ingle shot"), QRect(124, 67, 90, 10), mode);
    Add<QRadioButton>(1050, QStringLiteral("Series &of"), QRect(124, 81, 48, 10), mode);
    Add<QLineEdit>(1052, QRect(172, 80, 40, 13), mode);
    Add<QRadioButton>(1051, QStringLiteral("&Continuous"), QRect(124, 95, 90, 10), mode);
    for (int m = 0; m < 3; ++m)
        OnClicked(1049 + m, [this, m] { SetMode(m); });

    Add<QGroupBox>(1067, QStringLiteral("Speed"), QRect(7, 119, 103, 27));
    Add<QCheckBox>(IDC_RETRY_FAILED, QStringLiteral("Retry &failed uploads"),
                   QRect(124, 131, 96, 10));
    QLineEdit* fps = Add<QLineEdit>(1065, QRect(50, 129, 40, 13));
    Add<QLabel>(1066, QStringLiteral("&Max fps:"), QRect(14, 131, 34, 9))->setBuddy(fps);

    QLineEdit* notify = Add<QLineEdit>(1080, QRect(92, 151, 128, 13));
    notify->setPlaceholderText(QStringLiteral("command (optional)"));
    Add<QLabel>(1081, QStringLiteral("&Run on failure/recovery:"), QRect(7, 153, 84, 9))
        ->setBuddy(notify);
}

void CSettingsUpload::CreateDaylight()
{
    QGroupBox* group =
        Add<QGroupBox>(IDC_DAYLIGHT_GROUP, QStringLiteral("Daylight"), QRect(7, 168, 213, 50));
    Add<QCheckBox>(IDC_DAYLIGHT_ONLY, QStringLiteral("Upload only in &daylight"),
                   QRect(14, 180, 96, 10), group);
    QLineEdit* altitude = Add<QLineEdit>(IDC_SUN_ALTITUDE, QRect(170, 178, 42, 13), group);
    Add<QLabel>(0, QStringLiteral("Sun al&titude:"), QRect(120, 180, 48, 9), group)
        ->setBuddy(altitude);
    QLineEdit* latitude = Add<QLineEdit>(IDC_LATITUDE, QRect(50, 193, 56, 13), group);
    Add<QLabel>(0, QStringLiteral("&Latitude:"), QRect(14, 195, 34, 9), group)->setBuddy(latitude);
    QLineEdit* longitude = Add<QLineEdit>(IDC_LONGITUDE, QRect(156, 193, 56, 13), group);
    Add<QLabel>(0, QStringLiteral("Lo&ngitude:"), QRect(120, 195, 36, 9), group)
        ->setBuddy(longitude);
    latitude->setPlaceholderText(QStringLiteral("69.65 (N +)"));
    longitude->setPlaceholderText(QStringLiteral("18.96 (E +)"));
    Add<QLabel>(IDC_DAYLIGHT_PREVIEW, QRect(14, 207, 204, 9), group);
    for (QLineEdit* edit : {altitude, latitude, longitude})
        connect(edit, &QLineEdit::textChanged, this, &CSettingsUpload::UpdateDaylight);
    OnClicked(IDC_DAYLIGHT_ONLY, [this] { UpdateDaylight(); });
}

DaylightTexts CSettingsUpload::TypedDaylight() const
{
    auto text = [this](int id) {
        const auto* edit = Item<QLineEdit>(id);
        return edit ? edit->text() : QString();
    };
    return {IsItemChecked(IDC_DAYLIGHT_ONLY) ? 1 : 0, text(IDC_LATITUDE), text(IDC_LONGITUDE),
            text(IDC_SUN_ALTITUDE)};
}

QString CSettingsUpload::DaylightPreview() const
{
    const DaylightTexts typed = TypedDaylight();
    if (typed.latitude.trimmed().isEmpty() && typed.longitude.trimmed().isEmpty())
        return QStringLiteral("Enter the camera's place to see today's daylight.");
    QString problem;
    const DaylightRule rule = DaylightFromText(typed, &problem);
    if (!problem.isEmpty())
        return QStringLiteral("Not usable: ") + problem;
    return DescribeDaylightDay(CCameraApp::Now(), rule);
}

void CSettingsUpload::UpdateDaylight()
{
    const bool on = IsItemChecked(IDC_DAYLIGHT_ONLY);
    for (int id : {IDC_LATITUDE, IDC_LONGITUDE, IDC_SUN_ALTITUDE})
        EnableItem(id, on);
    if (auto* label = Item<QLabel>(IDC_DAYLIGHT_PREVIEW))
        label->setText(DaylightPreview());
}

void CSettingsUpload::DoDataExchange(CDataExchange& dx)
{
    DDX_Text(dx, 1010, m_strFrom);
    DDX_Text(dx, 1011, m_strTo);
    DDX_Text(dx, 1006, m_nIntervalCount);
    DDV_MinMaxUInt(dx, m_nIntervalCount, 1, 1440);
    DDX_Text(dx, 1052, m_nNumSeries);
    DDV_MinMaxUInt(dx, m_nNumSeries, 1, 1000);
    DDX_Text(dx, 1065, m_fMaxFps);
    DDV_MinMaxFloat(dx, m_fMaxFps, 0.01f, 30.0f);
    DDX_Text(dx, 1080, m_strNotifyCommand);
    DDX_Check(dx, IDC_RETRY_FAILED, m_bRetryFailed);
    DDX_Check(dx, IDC_DAYLIGHT_ONLY, m_daylight.bDaylightOnly);
    DDX_Text(dx, IDC_LATITUDE, m_daylight.latitude);
    DDX_Text(dx, IDC_LONGITUDE, m_daylight.longitude);
    DDX_Text(dx, IDC_SUN_ALTITUDE, m_daylight.altitude);
    if (dx.m_bSaveAndValidate && !dx.Failed() && m_daylight.bDaylightOnly) {
        QString problem;
        DaylightField field = DaylightField::None;
        DaylightFromText(m_daylight, &problem, &field);
        if (field != DaylightField::None) {
            dx.PrepareCtrl(field == DaylightField::Latitude    ? IDC_LATITUDE
                           : field == DaylightField::Longitude ? IDC_LONGITUDE
                                                               : IDC_SUN_ALTITUDE);
            dx.Fail(QStringLiteral("Daylight only cannot be used: %1.").arg(problem));
        }
    }
}

void CSettingsUpload::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    CheckItem(m_b24Hours ? 1007 : 1008, true);
    CheckItem(m_nIntervalUnit == 3600 ? 1040 : m_nIntervalUnit == 60 ? 1041 : 1042, true);
    // A stored mode outside 0..2 checks no mode radio (and no unrelated control).
    if (m_nUploadMode >= 0 && m_nUploadMode <= 2)
        CheckItem(1049 + m_nUploadMode, true);
    SetMode(m_nUploadMode);
    UpdateDaylight();
}

void CSettingsUpload::SetMode(int mode)
{
    m_nUploadMode = mode;
    EnableIntervalControls(mode != 2);
    EnableSeriesControls(mode == 1);
    EnableSpeedControls(mode != 0);
}

void CSettingsUpload::EnableIntervalControls(bool enable)
{
    // A stream restarts within seconds after a failure: no tries in between.
    for (int id : {1053, 1006, 1040, 1041, 1042, int(IDC_RETRY_FAILED)})
        EnableItem(id, enable);
}

void CSettingsUpload::EnableSeriesControls(bool enable)
{
    EnableItem(1052, enable);
}

void CSettingsUpload::EnableSpeedControls(bool enable)
{
    for (int id : {1065, 1066, 1067})
        EnableItem(id, enable);
}
