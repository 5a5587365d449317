#include "graphs/KVRValueTexts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "core/KVRFormatters.h"
#include "graphs/KVRGraphStyle.h"

double KVRRoundedToCents(double value) {
  if (!std::isfinite(value)) return value;
  // The shortest decimal form that reads back as the value, in plain digits.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
  if (res.ec != std::errc()) return std::round(value * 100.0) / 100.0;
  const std::string text(buf, res.ptr);
  const size_t dot = text.find('.');
  if (dot == std::string::npos || text.size() - dot - 1 <= 2) return value;

  // Digits up to the hundredths, and what follows them.
  std::string digits = text.substr(0, dot) + text.substr(dot + 1, 2);
  const std::string rest = text.substr(dot + 3);
  bool up = rest[0] > '5';
  if (rest[0] == '5') {
    const bool beyondHalf = rest.find_first_not_of('0', 1) != std::string::npos;
    up = beyondHalf || (digits.back() - '0') % 2 == 1;  // a tie goes to the even digit
  }
  if (up) {
    int i = int(digits.size()) - 1;
    while (i >= 0 && digits[size_t(i)] == '9') digits[size_t(i--)] = '0';
    if (i < 0) digits.insert(digits.begin(), '1');
    else ++digits[size_t(i)];
  }
  digits.insert(digits.size() - 2, 1, '.');
  double rounded = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), rounded);
  return value < 0 ? -rounded : rounded;
}

int64_t KVRWholeNumber(double value) {
  const double shifted = value + 0.5;
  if (std::isnan(shifted)) return 0;
  return int64_t(std::trunc(std::clamp(shifted, -4.0e18, 4.0e18)));
}

QString KVRCountText(double value) {
  return KVRFormatters::shared().currencyFormatter().stringFromNumber(double(KVRWholeNumber(value)));
}

QString KVRAmountText(double value, bool wholeUnits) {
  KVRFormatters& f = KVRFormatters::shared();
  if (wholeUnits) return f.currencyFormatter().stringFromNumber(double(KVRWholeNumber(value)));
  return f.currencyFormatterWithFloats().stringFromNumber(value);
}

QString KVRMoneyText(double value, bool wholeUnits, const QString& symbol) {
  const QString amount = KVRAmountText(value, wholeUnits);
  return symbol.isEmpty() ? amount : amount + QLatin1Char(' ') + symbol;
}

QString KVRPercentText(double percent) {
  return KVRFormatters::shared().currencyFormatterWithFloats().stringFromNumber(percent) + QStringLiteral(" %");
}

KVRValueKind KVRValueKindOfFormat(const std::optional<QString>& format) {
  if (!format || !format->contains(QLatin1String("%@"))) return KVRValueKind::count;
  if (format->contains(QLatin1String("%%"))) return KVRValueKind::percent;
  return KVRValueKind::money;
}

QString KVRFormattedValueText(const std::optional<QString>& format, double value, bool wholeMoney) {
  KVRFormatters& f = KVRFormatters::shared();
  switch (KVRValueKindOfFormat(format)) {
    case KVRValueKind::count:
      return KVRCountText(value);
    case KVRValueKind::percent:
      return KVRApplyValueFormat(format, f.currencyFormatterWithFloats().stringFromNumber(value));
    case KVRValueKind::money:
      return KVRApplyValueFormat(format, KVRAmountText(value, wholeMoney));
  }
  return QString();
}
