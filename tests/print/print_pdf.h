#pragma once
// Printing to PDF in tests: the print command's page set-up, the text of a
// PDF and its pages turned into PNG.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <cstdlib>

#include "platform/KVRPrintInfo.h"

namespace print_test {

// The print command's page set-up: 10-point margins, 35 on the right of a
// landscape page or at the bottom of a portrait one.
inline KVRPrintInfo pageSetUp(QPageLayout::Orientation o, const QString& pdf) {
  KVRPrintInfo info;
  info.paperSize = QPageSize(QPageSize::A4);
  info.orientation = o;
  info.margins = o == QPageLayout::Landscape ? QMarginsF(10, 10, 35, 10) : QMarginsF(10, 10, 10, 35);
  info.horizontalPaginationFit = info.horizontallyCentered = info.verticallyCentered = true;
  info.outputPdfPath = pdf;
  return info;
}

inline QString pdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Turns the pages into PNG; copies them to $VORTELY_RENDER_DIR when set.
inline int pagesToPng(const QString& pdf, const QString& prefix) {
  QProcess p;
  p.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"), pdf, prefix});
  p.waitForFinished(30000);
  const QFileInfo info(prefix);
  const QStringList pages =
      QDir(info.absolutePath()).entryList({info.fileName() + QStringLiteral("*.png")}, QDir::Files, QDir::Name);
  if (const char* dir = std::getenv("VORTELY_RENDER_DIR"); dir && *dir) {
    QDir().mkpath(QString::fromLocal8Bit(dir));
    for (const QString& page : pages)
      QFile::copy(info.absolutePath() + u'/' + page, QString::fromLocal8Bit(dir) + u'/' + page);
  }
  return int(pages.size());
}

struct PrintScope {
  KVRPrintInfo saved = KVRPrintInfo::shared();
  ~PrintScope() { KVRPrintInfo::setShared(saved); }
};

}  // namespace print_test
