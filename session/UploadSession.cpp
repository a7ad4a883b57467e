// Placeholder until the upload session lands.
#include "app/CCameraApp.h"

void CCameraApp::RunUploadSession() {}
