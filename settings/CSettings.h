// The "Settings" sheet: Dialup, FTP, Image, Upload and Caption pages.
#pragma once

#include "PropertySheet.h"

class CSettings : public CPropertySheet
{
    Q_OBJECT
public:
    using CPropertySheet::CPropertySheet;
};
