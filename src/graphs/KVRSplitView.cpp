#include "graphs/KVRSplitView.h"

#include <QMouseEvent>
#include <QSplitterHandle>

namespace {

class ConstrainedHandle : public QSplitterHandle {
 public:
  ConstrainedHandle(Qt::Orientation o, KVRConstrainedSplitter* parent) : QSplitterHandle(o, parent), owner_(parent) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) offset_ = pick(e->position().toPoint());
    QSplitterHandle::mousePressEvent(e);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!(e->buttons() & Qt::LeftButton)) return;
    const int pos = pick(owner_->mapFromGlobal(e->globalPosition().toPoint())) - offset_;
    owner_->moveDivider(pos);
  }

 private:
  int pick(const QPoint& p) const { return orientation() == Qt::Horizontal ? p.x() : p.y(); }
  KVRConstrainedSplitter* owner_;
  int offset_ = 0;
};

}  // namespace

KVRConstrainedSplitter::KVRConstrainedSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

QSplitterHandle* KVRConstrainedSplitter::createHandle() { return new ConstrainedHandle(orientation(), this); }

void KVRConstrainedSplitter::moveDivider(int proposed) {
  const int extent = orientation() == Qt::Horizontal ? width() : height();
  const int pos = constrain ? constrain(proposed, extent) : proposed;
  moveSplitter(pos, 1);
}

