// The capture layer: capture windows and drivers with the messages and
// results of the platform interface they stand in for.
#pragma once

#include "wintypes.h"

class QWidget;
using HWND = QWidget*;
using HANDLE = void*;

#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u

#define WM_CAP_START 1024
#define WM_CAP_DRIVER_CONNECT 1034
#define WM_CAP_DRIVER_DISCONNECT 1035
#define WM_CAP_DRIVER_GET_CAPS 1038
#define WM_CAP_EDIT_COPY 1054
#define WM_CAP_DLG_VIDEOFORMAT 1065
#define WM_CAP_DLG_VIDEOSOURCE 1066
#define WM_CAP_DLG_VIDEODISPLAY 1067
#define WM_CAP_SET_PREVIEW 1074
#define WM_CAP_SET_OVERLAY 1075
#define WM_CAP_SET_PREVIEWRATE 1076
#define WM_CAP_GET_STATUS 1078
#define WM_CAP_GRAB_FRAME_NOSTOP 1085

struct CAPDRIVERCAPS {
    UINT wDeviceIndex;
    BOOL fHasOverlay;
    BOOL fHasDlgVideoSource;
    BOOL fHasDlgVideoFormat;
    BOOL fHasDlgVideoDisplay;
    BOOL fCaptureInitialized;
    BOOL fDriverSuppliesPalettes;
    HANDLE hVideoIn;
    HANDLE hVideoOut;
    HANDLE hVideoExtIn;
    HANDLE hVideoExtOut;
};

struct POINT {
    LONG x;
    LONG y;
};

struct CAPSTATUS {
    UINT uiImageWidth;
    UINT uiImageHeight;
    BOOL fLiveWindow;
    BOOL fOverlayWindow;
    BOOL fScale;
    POINT ptScroll;
    BOOL fUsingDefaultPalette;
    BOOL fAudioHardware;
    BOOL fCapFileExists;
    DWORD dwCurrentVideoFrame;
    DWORD dwCurrentVideoFramesDropped;
    DWORD dwCurrentWaveSamples;
    DWORD dwCurrentTimeElapsedMS;
    HANDLE hPalCurrent;
    BOOL fCapturingNow;
    DWORD dwReturn;
    UINT wNumVideoAllocated;
    UINT wNumAudioAllocated;
};

// Null when the window cannot be created.
HWND capCreateCaptureWindowA(LPCSTR name, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id);
// FALSE when no driver has that index (0..9).
BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int cbName, LPSTR version, int cbVersion);
// TRUE while hWnd is a live capture window.
BOOL IsWindow(HWND hWnd);
// The capture-window messages above; 0 for a window that is not live.
// Must be called on the GUI thread.
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Places a live capture window in its parent; FALSE for any other handle.
BOOL MoveWindow(HWND hWnd, int x, int y, int width, int height, BOOL repaint);
