// The capture window: a child widget that shows the live picture of its
// connected source and answers the capture-window messages.
#pragma once

#include "capoptions.h"
#include "dib.h"
#include "drivers.h"
#include "vfw.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;
class SourceKeeper;
class SourceReader;

class CaptureWindow : public QWidget
{
public:
    explicit CaptureWindow(QWidget* parent);
    ~CaptureWindow() override;

    // Null unless hWnd is a live capture window.
    static CaptureWindow* Find(HWND hWnd);
    LRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);
    void SetOptions(const CaptureOptions& options);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BOOL Connect(WPARAM index);
    void Disconnect();
    BOOL FillCaps(WPARAM size, LPARAM record) const;
    BOOL FillStatus(WPARAM size, LPARAM record) const;
    BOOL SetPreview(bool on);
    BOOL SetPreviewRate(WPARAM milliseconds);
    BOOL Grab();
    BOOL CopyToClipboard();
    BOOL RunFormatDialog();
    BOOL RunSourceDialog();
    bool ApplyFormat(const FrameFormat& chosen, const FrameFormat& current);
    void RefreshPreview();
    void StateChanged(const QString& source, bool ok);
    SourceReader* Reader() const;
    FrameFormat StoredFormat(const CaptureDriver& driver) const;
    void RememberFormat(const FrameFormat& format);
    bool HasSourceDialog() const;

    SourceKeeper* m_keeper;
    CaptureOptions m_options;
    CaptureDriver m_driver; // as listed; the keeper's copy follows a moved device
    int m_index = -1;
    bool m_hasSourceDialog = false;
    std::shared_ptr<const std::vector<std::uint8_t>> m_grabbed;
    std::shared_ptr<const std::vector<std::uint8_t>> m_preview;
    std::uint64_t m_previewSequence = 0;
    QTimer* m_timer;
};
