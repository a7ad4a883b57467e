// The capture window: a child widget that shows the live picture of its
// connected source and answers the capture-window messages.
#pragma once

#include "dib.h"
#include "drivers.h"
#include "vfw.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;
class SourceReader;

class CaptureWindow : public QWidget
{
public:
    explicit CaptureWindow(QWidget* parent);
    ~CaptureWindow() override;

    // Null unless hWnd is a live capture window.
    static CaptureWindow* Find(HWND hWnd);
    LRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);

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
    void RefreshPreview();

    std::unique_ptr<SourceReader> m_reader;
    CaptureDriver m_driver;
    int m_index = -1;
    bool m_hasSourceDialog = false;
    std::shared_ptr<const std::vector<std::uint8_t>> m_grabbed;
    std::shared_ptr<const std::vector<std::uint8_t>> m_preview;
    std::uint64_t m_previewSequence = 0;
    QTimer* m_timer;
};
