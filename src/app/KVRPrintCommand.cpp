#include "app/KVRPrintCommand.h"

KVRPrintInfo KVRPrintInfoForPrintCommand(KVRPrintInfo info) {
  info.horizontalPaginationFit = true;
  info.horizontallyCentered = true;
  info.verticallyCentered = true;
  info.margins = QMarginsF(10, 10, 10, 10);
  const QSizeF paper = info.paperSizePoints();
  if (paper.width() > paper.height())
    info.margins.setRight(35);
  else
    info.margins.setBottom(35);
  return info;
}
