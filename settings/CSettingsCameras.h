// Cameras page: the sources of the settings file (IP cameras, commands,
// anything FFmpeg opens), each tried on request without holding the window.
#pragma once

#include "PropertySheet.h"
#include "platform/vfw/drivers.h"

#include <QDialog>
#include <QElapsedTimer>
#include <memory>

class QLineEdit;
class QTimer;
class SourceProbe;

constexpr int kCamerasPageTemplate = 137;
enum CamerasPageControl {
    IDC_CAMERA_LIST = 1200,
    IDC_CAMERA_ADD,
    IDC_CAMERA_EDIT,
    IDC_CAMERA_REMOVE,
    IDC_CAMERA_TEST,
    IDC_CAMERA_RESULT,
};

// Why a source cannot be kept as entered; empty when it can. others are the
// page's other sources (names must be unique).
QString CheckCameraEntry(const QVector<VideoSourceEntry>& others, const QString& name,
                         const QString& format, const QString& input);
// A source as the list shows it: passwords masked.
QString CameraListText(const VideoSourceEntry& entry);

// Add and Edit: the real value is edited; OK is refused while it is unusable.
class CameraEntryDialog : public QDialog
{
    Q_OBJECT
public:
    CameraEntryDialog(const QVector<VideoSourceEntry>& others, const VideoSourceEntry& entry,
                      QWidget* parent);
    VideoSourceEntry Entry() const;
    void accept() override;

    QLineEdit* m_name;
    QLineEdit* m_format;
    QLineEdit* m_input;

private:
    QVector<VideoSourceEntry> m_others;
};

class CSettingsCameras : public CPropertyPage
{
    Q_OBJECT
public:
    // The longest a Test may take before the page stops waiting for it.
    static constexpr int kTestLimitMs = 30000;

    CSettingsCameras();
    ~CSettingsCameras() override;

    QVector<VideoSourceEntry> m_entries;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void Fill(int select);
    int Selected() const;
    void OnAdd();
    void OnEdit();
    void OnRemove();
    void OnTest();
    void PollTest();
    void EndTest(const QString& text);

    std::shared_ptr<SourceProbe> m_probe;
    QTimer* m_poll = nullptr;
    QElapsedTimer m_testClock;
};
