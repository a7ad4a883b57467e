#pragma once

// Registers the icon and logo pictures; call once before any window is made.
void InitResources();
