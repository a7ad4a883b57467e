// Capture-window messages go out only to a live window; otherwise they count
// as answered with 0.
#pragma once

#include "platform/vfw/vfw.h"

inline LRESULT CapSend(HWND hWnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return hWnd && IsWindow(hWnd) ? SendMessageA(hWnd, msg, wParam, lParam) : 0;
}
