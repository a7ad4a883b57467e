#include "RunProfile.h"

namespace
{
QString& Name()
{
    static QString name;
    return name;
}
} // namespace

void SetRunProfile(const QString& name)
{
    Name() = name;
}

const QString& RunProfile()
{
    return Name();
}
