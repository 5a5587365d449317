#pragma once
// The page set-up of the print command: the shared print information with
// horizontal pagination fitted, the page centred both ways, 10-point margins
// and a 35-point margin on the right (paper wider than high) or at the bottom.
#include <QSizeF>

#include "platform/KVRPrintInfo.h"

KVRPrintInfo KVRPrintInfoForPrintCommand(KVRPrintInfo info);
