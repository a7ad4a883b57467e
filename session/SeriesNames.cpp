#include "SeriesNames.h"

int SeriesIndexWidth(unsigned n)
{
    if (n == 0)
        return 0;
    int width = 0;
    for (unsigned v = n - 1; v != 0; v /= 10)
        ++width;
    return width;
}

bool SplitAtLastDot(const QString& path, SplitName* out)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    out->base = path.left(dot);
    out->extension = path.mid(dot + 1);
    return true;
}

bool FitsSeriesBuffers(const SplitName& name)
{
    return name.base.toLocal8Bit().size() <= 259 && name.extension.toLocal8Bit().size() <= 99;
}

QString SeriesFrameName(const SplitName& name, int width, unsigned index)
{
    // Concatenated, not chained arg(): a "%1" in the user's name stays text.
    return name.base + QLatin1Char('.') + QString::number(index).rightJustified(width, u'0') +
           QLatin1Char('.') + name.extension;
}

QString SeriesListName(const SplitName& name)
{
    return name.base + QStringLiteral(".lst");
}

QByteArray TimingListLine(long long elapsedMs, int width, unsigned index)
{
    const long long c = elapsedMs * 100 / 1000;
    return QString::asprintf("%lld.%02lld %0*u\n", c / 100, c % 100, width, index).toLatin1();
}
