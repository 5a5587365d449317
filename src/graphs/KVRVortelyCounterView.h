#pragma once
// The money counter: an odometer of digit tiles showing an amount with two
// decimals (or in whole units when the user rounds money). setValue sets the
// target, rounded as the amount formatter rounds, so the counter reads the
// same digits as every other text of the amount; animated, the digits roll
// from the value on display to the target in 20 timer steps. Amounts are kept
// in double precision: cents of a nine-digit amount do not fit a float.
#include <QTimer>
#include <QWidget>

class KVRVortelyCounterView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kAnimationSteps = 20;
  static constexpr int kStepIntervalMs = 25;

  explicit KVRVortelyCounterView(QWidget* parent = nullptr);
  ~KVRVortelyCounterView() override;

  void setValue(double value, bool animated);
  // The target, not the digits on display during an animation.
  double value() const { return target_; }
  float floatValue() const { return float(target_); }
  // The amount on display now.
  double displayedValue() const { return displayed_; }
  // Whole units (no decimals) instead of cents; takes effect at the next value.
  void setWholeUnits(bool whole);
  bool wholeUnits() const { return wholeUnits_; }
  // The text the tiles show now.
  QString displayedText() const;
  bool isAnimating() const { return timer_.isActive(); }
  // One step of the animation (the timer's action).
  void stepAnimation();

  // The value rounded to cents by the amount formatter's rule (half to even
  // on its shortest decimal form); 0 for a value that is no number.
  static double roundedToCents(double value);

  void render(QPainter& painter, const QRectF& rect);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double target_ = 0;
  double displayed_ = 0;
  double from_ = 0;
  bool wholeUnits_ = false;
  int step_ = 0;
  QTimer timer_;
};
