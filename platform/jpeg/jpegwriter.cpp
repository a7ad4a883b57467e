// Placeholder until the libjpeg-turbo writer lands.
#include "jpegwriter.h"

extern "C" int jpeg_write_file(HGLOBAL, const char*, int) { return JPEG_ERR_ENCODER; }
