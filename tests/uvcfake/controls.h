// The fake camera's controls, as a typical UVC camera offers them: auto
// controls govern the manual ones, which refuse changes while inactive.
#pragma once

#include <cstdint>
#include <linux/videodev2.h>

namespace uvcfake
{

constexpr int kControlCount = 9;

struct ControlValues {
    std::int32_t value[kControlCount];
};

void DefaultControls(ControlValues* values);
// Each returns 0 or the errno a driver gives.
int QueryControl(const ControlValues& values, v4l2_queryctrl* q);
int QueryMenu(v4l2_querymenu* m);
int GetControl(const ControlValues& values, v4l2_control* c);
// Appends "ID=VALUE RESULT" to the file UVCFAKE_CONTROL_LOG names, if any.
int SetControl(ControlValues* values, v4l2_control* c);

} // namespace uvcfake
