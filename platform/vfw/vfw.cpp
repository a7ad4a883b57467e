#include "vfw.h"

#include "capwindow.h"
#include "drivers.h"

#include <cstring>

HWND capCreateCaptureWindowA(LPCSTR name, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id)
{
    if ((style & WS_CHILD) && !parent)
        return nullptr;
    auto* window = new CaptureWindow(parent);
    window->setObjectName(QString::fromUtf8(name ? name : ""));
    window->setProperty("controlId", id);
    window->setGeometry(x, y, width, height);
    if (style & WS_VISIBLE)
        window->show();
    return window;
}

namespace
{

// Never cuts: a text that does not fit its buffer fails the call.
bool CopyText(const QString& text, LPSTR buffer, int size)
{
    const QByteArray bytes = text.toUtf8();
    if (!buffer || size <= bytes.size())
        return false;
    std::memcpy(buffer, bytes.constData(), std::size_t(bytes.size()) + 1);
    return true;
}

} // namespace

BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int cbName, LPSTR version, int cbVersion)
{
    const QVector<CaptureDriver> drivers = ListCaptureDrivers();
    if (index >= drivers.size() || drivers[index].name.isEmpty())
        return FALSE;
    if (!CopyText(drivers[index].name, name, cbName))
        return FALSE;
    if (version && !CopyText(drivers[index].version, version, cbVersion))
        return FALSE;
    return TRUE;
}

BOOL IsWindow(HWND hWnd)
{
    return CaptureWindow::Find(hWnd) != nullptr;
}

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CaptureWindow* window = CaptureWindow::Find(hWnd);
    return window ? window->Message(msg, wParam, lParam) : 0;
}

BOOL MoveWindow(HWND hWnd, int x, int y, int width, int height, BOOL repaint)
{
    CaptureWindow* window = CaptureWindow::Find(hWnd);
    if (!window)
        return FALSE;
    window->setGeometry(x, y, width, height);
    if (repaint)
        window->update();
    return TRUE;
}
