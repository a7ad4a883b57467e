// The JPEG writer, linked at build time: writes a packed bitmap as a JPEG file.
#pragma once

#include "wintypes.h"

#define JPEG_OK 0
#define JPEG_ERR_BAD_BITMAP 601
#define JPEG_ERR_UNSUPPORTED 602
#define JPEG_ERR_OPEN_FILE 603
#define JPEG_ERR_ENCODER 699

// dib: a movable block holding header, colour table and pixel rows (8, 16 or
// 24 bit). quality 0..100 (0 is taken as 1). Returns 0 or one of the codes.
extern "C" int jpeg_write_file(HGLOBAL dib, const char* fileName, int quality);
