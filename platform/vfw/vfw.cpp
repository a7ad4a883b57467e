// Placeholder until the FFmpeg-backed capture layer lands: no drivers.
#include "vfw.h"

#include <QWidget>

HWND capCreateCaptureWindowA(LPCSTR, DWORD, int x, int y, int w, int h, HWND parent, int)
{
    auto* window = new QWidget(parent);
    window->setGeometry(x, y, w, h);
    window->show();
    return window;
}
BOOL capGetDriverDescriptionA(WORD, LPSTR, int, LPSTR, int) { return FALSE; }
BOOL IsWindow(HWND hWnd) { return hWnd != nullptr; }
LRESULT SendMessageA(HWND, UINT, WPARAM, LPARAM) { return 0; }
