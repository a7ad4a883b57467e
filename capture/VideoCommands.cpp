// Placeholder until the capture device lands.
#include "app/CCameraApp.h"

void CCameraApp::OnVideoFormat() {}
void CCameraApp::OnVideoSource() {}
void CCameraApp::OnVideoDisplay() {}
void CCameraApp::OnVideoPreview() {}
void CCameraApp::OnVideoOverlay() {}
