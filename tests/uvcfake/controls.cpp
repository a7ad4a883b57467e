#include "controls.h"

#include "device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace uvcfake
{

namespace
{

struct Control {
    std::uint32_t id;
    std::uint32_t type;
    const char* name;
    std::int32_t minimum, maximum, step, initial;
    std::uint32_t master;    // the auto control that governs this one, or 0
    std::int32_t activeWhen; // the master's value that makes this one active
};

// Ascending ids: enumeration with V4L2_CTRL_FLAG_NEXT_CTRL walks this order.
constexpr Control kControls[kControlCount] = {
    {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0, 0, 0},
    {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 64, 1, 32, 0, 0},
    {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance Temperature, Auto", 0, 1,
     1, 1, 0, 0},
    {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1, 0, 0},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2800,
     6500, 1, 4600, V4L2_CID_AUTO_WHITE_BALANCE, 0},
    {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Exposure, Auto", 0, 3, 1,
     V4L2_EXPOSURE_APERTURE_PRIORITY, 0, 0},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure (Absolute)", 3, 2047, 1, 250,
     V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
    // A lower id than the auto control that governs it, as on UVC cameras.
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Focus (absolute)", 0, 250, 5, 0,
     V4L2_CID_FOCUS_AUTO, 0},
    {V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Auto", 0, 1, 1, 1, 0, 0},
};

// Menu entries by control and index; null where the camera skips an index
// (UVC exposure offers only manual and aperture priority).
const char* MenuName(std::uint32_t id, std::uint32_t index)
{
    static const char* const kPowerLine[] = {"Disabled", "50 Hz", "60 Hz"};
    static const char* const kExposure[] = {nullptr, "Manual Mode", nullptr,
                                            "Aperture Priority Mode"};
    if (id == V4L2_CID_POWER_LINE_FREQUENCY && index < 3)
        return kPowerLine[index];
    if (id == V4L2_CID_EXPOSURE_AUTO && index < 4)
        return kExposure[index];
    return nullptr;
}

int IndexOf(std::uint32_t id)
{
    for (int i = 0; i < kControlCount; ++i)
        if (kControls[i].id == id)
            return i;
    return -1;
}

bool Inactive(const ControlValues& values, const Control& c)
{
    return c.master && values.value[IndexOf(c.master)] != c.activeWhen;
}

void LogSet(std::uint32_t id, std::int32_t value, int error)
{
    const char* path = std::getenv("UVCFAKE_CONTROL_LOG");
    if (!path || !*path)
        return;
    const int fd = RealOpen(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%u=%d %s\n", id, value,
                                error == 0        ? "ok"
                                : error == EACCES ? "EACCES"
                                                  : "EINVAL");
    if (n > 0 && ::write(fd, line, std::size_t(n)) < 0) {
        // Nothing to report to: the log is the report.
    }
    RealClose(fd);
}

} // namespace

void DefaultControls(ControlValues* values)
{
    for (int i = 0; i < kControlCount; ++i)
        values->value[i] = kControls[i].initial;
}

int QueryControl(const ControlValues& values, v4l2_queryctrl* q)
{
    const std::uint32_t flags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
    const std::uint32_t id = q->id & ~flags;
    int i = -1;
    if (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        for (int k = 0; k < kControlCount && i < 0; ++k)
            if (kControls[k].id > id)
                i = k;
    } else {
        i = IndexOf(id);
    }
    if (i < 0)
        return EINVAL;
    const Control& c = kControls[i];
    std::memset(q, 0, sizeof *q);
    q->id = c.id;
    q->type = c.type;
    std::strncpy(reinterpret_cast<char*>(q->name), c.name, sizeof q->name - 1);
    q->minimum = c.minimum;
    q->maximum = c.maximum;
    q->step = c.step;
    q->default_value = c.initial;
    if (Inactive(values, c))
        q->flags |= V4L2_CTRL_FLAG_INACTIVE;
    return 0;
}

int QueryMenu(v4l2_querymenu* m)
{
    const char* name = MenuName(m->id, m->index);
    if (!name)
        return EINVAL;
    std::memset(m->name, 0, sizeof m->name);
    std::strncpy(reinterpret_cast<char*>(m->name), name, sizeof m->name - 1);
    m->reserved = 0;
    return 0;
}

int GetControl(const ControlValues& values, v4l2_control* c)
{
    const int i = IndexOf(c->id);
    if (i < 0)
        return EINVAL;
    c->value = values.value[i];
    return 0;
}

int SetControl(ControlValues* values, v4l2_control* c)
{
    const int i = IndexOf(c->id);
    if (i < 0)
        return EINVAL;
    const Control& info = kControls[i];
    const std::int32_t asked = c->value;
    int error = 0;
    if (Inactive(*values, info)) {
        error = EACCES;
    } else if (info.type == V4L2_CTRL_TYPE_MENU) {
        if (asked < info.minimum || asked > info.maximum ||
            !MenuName(info.id, std::uint32_t(asked)))
            error = EINVAL;
        else
            values->value[i] = asked;
    } else {
        // Out-of-range values are clamped and rounded to the step, as UVC does.
        std::int32_t v = std::clamp(asked, info.minimum, info.maximum);
        v = info.minimum + (v - info.minimum + info.step / 2) / info.step * info.step;
        values->value[i] = c->value = v;
    }
    LogSet(info.id, asked, error);
    return error;
}

} // namespace uvcfake
