#pragma once
// The shared print information: paper, orientation, margins and pagination
// that every print operation starts from. The print command installs a copy
// with its own settings before asking a screen to print.
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QSizeF>
#include <QString>

struct KVRPrintInfo {
  QPageSize paperSize = QPageSize(QPageSize::A4);
  QPageLayout::Orientation orientation = QPageLayout::Portrait;
  QMarginsF margins = QMarginsF(72, 72, 72, 72);  // points: left, top, right, bottom
  bool horizontalPaginationFit = false;
  bool horizontallyCentered = false;
  bool verticallyCentered = false;
  // When set, printing writes this PDF file without showing the print dialog.
  QString outputPdfPath;

  // Paper size in points, turned for the orientation.
  QSizeF paperSizePoints() const {
    QSizeF s = paperSize.size(QPageSize::Point);
    if (orientation == QPageLayout::Landscape) s.transpose();
    return s;
  }
  // The printable size: the paper less the margins.
  QSizeF printableSize() const {
    const QSizeF p = paperSizePoints();
    return QSizeF(p.width() - margins.left() - margins.right(), p.height() - margins.top() - margins.bottom());
  }

  static KVRPrintInfo shared();
  static void setShared(const KVRPrintInfo& info);
};
