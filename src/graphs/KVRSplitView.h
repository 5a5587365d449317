#pragma once
// A split view whose divider follows a rule: every position a drag proposes
// (the first pane's height, or width) goes through `constrain` with the split
// view's own height (or width) before the divider moves there.
#include <QSplitter>
#include <functional>

class KVRConstrainedSplitter : public QSplitter {
 public:
  explicit KVRConstrainedSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);
  // (proposed position, split view's extent) -> position; none: no rule.
  std::function<int(int proposed, int extent)> constrain;
  // Moves the first divider as a drag to `proposed` does.
  void moveDivider(int proposed);

 protected:
  QSplitterHandle* createHandle() override;
};
