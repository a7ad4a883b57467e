// Placeholder until the settings dialog lands: nothing is shown or changed.
#include "CCameraApp.h"

void CCameraApp::OnSettings() {}
