// The small subset of the Windows API types that Vizo's own code is written
// against. The layers under platform/ implement the functions on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = INT_PTR;
using LRESULT = INT_PTR;
using LPCSTR = const char*;
using LPSTR = char*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using COLORREF = DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

// Handles are opaque pointers to distinct incomplete types so that they do not mix.
struct HMODULE__;
using HMODULE = HMODULE__*;
struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b)
{
    return DWORD(r) | (DWORD(g) << 8) | (DWORD(b) << 16);
}
inline constexpr BYTE GetRValue(COLORREF c)
{
    return BYTE(c & 0xff);
}
inline constexpr BYTE GetGValue(COLORREF c)
{
    return BYTE((c >> 8) & 0xff);
}
inline constexpr BYTE GetBValue(COLORREF c)
{
    return BYTE((c >> 16) & 0xff);
}

// Device-independent bitmap header, exactly as stored in a packed bitmap.
#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40, "packed DIB header is 40 bytes");
static_assert(sizeof(RGBQUAD) == 4, "colour table entries are 4 bytes");

#define BI_RGB 0
#define CF_DIB 8

// Error codes shared by the layers.
#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
