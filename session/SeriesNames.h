// Names of a series: numbered frame files and the timing list, local and remote.
#pragma once

#include <QString>

// Number of decimal digits of n - 1, computed unsigned (n = 1 gives 0); 0 for n = 0.
int SeriesIndexWidth(unsigned n);

// A path split at its last '.', which belongs to neither part.
struct SplitName {
    QString base;
    QString extension;
};
// False when the path holds no '.'.
bool SplitAtLastDot(const QString& path, SplitName* out);
// The base and extension fit the series' name buffers (259 and 99 characters).
bool FitsSeriesBuffers(const SplitName& name);

// "%s.%0*d.%s" with (base, width, index, extension).
QString SeriesFrameName(const SplitName& name, int width, unsigned index);
QString SeriesListName(const SplitName& name);
// One line of the timing list: "%d.%02d %0*d\n" for the elapsed hundredths.
QByteArray TimingListLine(long long elapsedMs, int width, unsigned index);
