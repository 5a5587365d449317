#pragma once
// Renders of the views go to $VORTELY_RENDER_DIR when it is set (to look at
// them); otherwise nothing is written.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdlib>

inline void saveRender(const QImage& image, const QString& name) {
  const char* dir = std::getenv("VORTELY_RENDER_DIR");
  if (!dir || !*dir) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  image.save(QString::fromLocal8Bit(dir) + u'/' + name);
}
