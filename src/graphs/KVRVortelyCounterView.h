#pragma once
// The money counter: an odometer of digit tiles showing an amount with two
// decimals. setValue sets the target (rounded to cents); animated, the digits
// roll from the value on display to the target in 20 timer steps.
#include <QTimer>
#include <QWidget>

class KVRVortelyCounterView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kAnimationSteps = 20;
  static constexpr int kStepIntervalMs = 25;

  explicit KVRVortelyCounterView(QWidget* parent = nullptr);
  ~KVRVortelyCounterView() override;

  void setValue(float value, bool animated);
  // The target, not the digits on display during an animation.
  float floatValue() const { return target_; }
  // The amount on display now.
  float displayedValue() const { return displayed_; }
  bool isAnimating() const { return timer_.isActive(); }
  // One step of the animation (the timer's action).
  void stepAnimation();

  // value * 100 rounded half away from zero, divided by 100, in single
  // precision.
  static float roundedToCents(float value);

  void render(QPainter& painter, const QRectF& rect);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  float target_ = 0;
  float displayed_ = 0;
  float from_ = 0;
  int step_ = 0;
  QTimer timer_;
};
