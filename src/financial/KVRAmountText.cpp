#include "financial/KVRAmountText.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/numfmt.h>
#include <unicode/parsepos.h>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "core/KVRFormatters.h"
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"

namespace {

// The currency table's symbols, each once, the longer first (a symbol that
// holds another, "CA$" and "$", goes before it); rows without one skipped.
const std::vector<QString>& symbolsLongestFirst() {
  static const std::vector<QString> symbols = [] {
    std::vector<QString> out;
    for (const KVRCurrencyRow& row : KVRVortelyCurrencyConverter::currencyValues())
      if (!row.Symbol.isEmpty() && std::find(out.begin(), out.end(), row.Symbol) == out.end())
        out.push_back(row.Symbol);
    std::stable_sort(out.begin(), out.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return out;
  }();
  return symbols;
}

bool isBidiMark(QChar c) { return c == QChar(0x200E) || c == QChar(0x200F) || c == QChar(0x061C); }
// Blanks of every kind: the blank, tab, no-break, narrow no-break, thin...
bool isBlank(QChar c) { return c.isSpace(); }
bool isApostrophe(QChar c) { return c == u'\'' || c == QChar(0x2019) || c == QChar(0x02BC); }
bool isMinus(QChar c) { return c == u'-' || c == QChar(0x2212); }

// The locale's strict number readers: its plain numbers, and its money
// where the locale writes money with other separators (the amounts the
// application shows are written that way). No exponent, groups only where
// the locale puts them: "12.5" is no thousand and "1E3" no number.
class Readers {
 public:
  explicit Readers(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> plain(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(plain.get());
    if (U_FAILURE(status) || !decimal) return;
    plain.release();
    formats_.emplace_back(decimal);
    decimal->setLenient(false);
    decimal->setParseNoExponent(true);
    const icu::DecimalFormatSymbols* symbols = decimal->getDecimalFormatSymbols();
    using S = icu::DecimalFormatSymbols;
    if (symbols->getSymbol(S::kMonetarySeparatorSymbol) != symbols->getSymbol(S::kDecimalSeparatorSymbol) ||
        symbols->getSymbol(S::kMonetaryGroupingSeparatorSymbol) != symbols->getSymbol(S::kGroupingSeparatorSymbol)) {
      std::unique_ptr<icu::DecimalFormat> money(decimal->clone());
      S moneySymbols(*symbols);
      moneySymbols.setSymbol(S::kDecimalSeparatorSymbol, symbols->getSymbol(S::kMonetarySeparatorSymbol));
      moneySymbols.setSymbol(S::kGroupingSeparatorSymbol, symbols->getSymbol(S::kMonetaryGroupingSeparatorSymbol));
      money->setDecimalFormatSymbols(moneySymbols);
      formats_.push_back(std::move(money));
    }
  }

  // The whole text as one number; none when any of it is left over. A blank
  // or an apostrophe inside stands for the grouping separator.
  std::optional<double> whole(const QString& text) const {
    if (text.isEmpty()) return std::nullopt;
    for (const auto& f : formats_) {
      using S = icu::DecimalFormatSymbols;
      const icu::DecimalFormatSymbols* symbols = f->getDecimalFormatSymbols();
      const QString grouping = KVRFromUnicodeString(symbols->getConstSymbol(S::kGroupingSeparatorSymbol));
      const QString decimal = KVRFromUnicodeString(symbols->getConstSymbol(S::kDecimalSeparatorSymbol));
      QString t;
      t.reserve(text.size());
      for (QChar c : text) {
        const bool stands = (isBlank(c) || isApostrophe(c)) && !decimal.contains(c);
        if (stands && !grouping.isEmpty()) t += grouping;
        else t += c;
      }
      if (const std::optional<double> v = parse(*f, t)) return v;
      // Groups of two or three digits, the last of three, read as well where
      // the locale groups otherwise (1,234,567.00 in India, 12,34,567.00
      // elsewhere); a separator elsewhere is still refused (12,5).
      const QString ungrouped = withoutGroups(t, grouping, decimal);
      if (!ungrouped.isNull())
        if (const std::optional<double> v = parse(*f, ungrouped)) return v;
    }
    return std::nullopt;
  }

  // The text as a whole number of the format; none when some is left over.
  static std::optional<double> parse(const icu::DecimalFormat& f, const QString& text) {
    const icu::UnicodeString u = KVRToUnicodeString(text);
    icu::Formattable result;
    icu::ParsePosition position(0);
    f.parse(u, result, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != u.length()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const double v = result.getDouble(status);
    if (U_FAILURE(status)) return std::nullopt;
    return v;
  }

  // The text without its grouping separators when they stand between groups
  // of two or three digits of the whole part, the last group of three; null
  // when the text holds none or they stand elsewhere.
  static QString withoutGroups(const QString& text, const QString& grouping, const QString& decimal) {
    if (grouping.isEmpty() || !text.contains(grouping)) return QString();
    const qsizetype point = decimal.isEmpty() ? -1 : text.indexOf(decimal);
    const QString whole = point < 0 ? text : text.left(point);
    if (point >= 0 && text.indexOf(grouping, point) >= 0) return QString();  // grouped decimals
    QStringList groups = whole.split(grouping);
    if (!groups.isEmpty() && !groups.front().isEmpty() && isMinus(groups.front().front()))
      groups.front().remove(0, 1);
    for (qsizetype i = 0; i < groups.size(); ++i) {
      const QString& g = groups[i];
      if (!std::all_of(g.begin(), g.end(), [](QChar c) { return c.isDigit(); })) return QString();
      const bool first = i == 0, last = i == groups.size() - 1;
      const bool fits = first ? g.size() >= 1 && g.size() <= 3 : last ? g.size() == 3 : g.size() == 2 || g.size() == 3;
      if (!fits) return QString();
    }
    QString out = text;
    out.replace(grouping, QString());
    return out;
  }

  // 0.35 as the locale writes a share.
  QString shareSample() const {
    if (formats_.empty()) return QStringLiteral("0.35");
    std::unique_ptr<icu::DecimalFormat> f(formats_.front()->clone());
    f->setMinimumFractionDigits(2);
    icu::UnicodeString out;
    f->format(0.35, out);
    return KVRFromUnicodeString(out);
  }

 private:
  std::vector<std::unique_ptr<icu::DecimalFormat>> formats_;
};

// A currency code: three capital letters ("EUR"; the amounts of a currency
// without symbol are written with its code).
bool isCurrencyCode(QStringView s) {
  return s.size() == 3 && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'A' && c <= u'Z'; });
}

// The text without one currency symbol or code before or after the number
// (a minus sign may stand before the symbol: "-$5").
QString withoutCurrencySymbol(const QString& text) {
  const bool signFirst = !text.isEmpty() && isMinus(text.front());
  const QStringView afterSign = QStringView(text).mid(signFirst ? 1 : 0);
  auto take = [&](QStringView rest, qsizetype from, qsizetype length) {
    const QString number = (from == 0 ? rest.mid(length) : rest.left(from)).trimmed().toString();
    return signFirst ? text.front() + number : number;
  };
  for (const QString& symbol : symbolsLongestFirst()) {
    if (afterSign.startsWith(symbol)) return take(afterSign, 0, symbol.size());
    if (afterSign.endsWith(symbol)) return take(afterSign, afterSign.size() - symbol.size(), symbol.size());
  }
  if (afterSign.size() > 3 && isCurrencyCode(afterSign.left(3))) return take(afterSign, 0, 3);
  if (afterSign.size() > 3 && isCurrencyCode(afterSign.right(3))) return take(afterSign, afterSign.size() - 3, 3);
  return text;
}

}  // namespace

KVRAmountReading KVRReadAmountText(const QString& original, KVRAmountKind kind, const icu::Locale& locale) {
  const Readers readers(locale);
  const bool money = kind != KVRAmountKind::share;
  const QString typed = original.trimmed();
  KVRAmountReading reading;
  auto refuse = [&](const QString& why) {
    reading.error = why;
    return reading;
  };
  auto expected = [&]() {
    return money ? KVRLocalized("Type it as %1.").arg(KVRFormatters::amountInLocale(1234.56, locale))
                 : KVRLocalized("Type the royalties as a share from 0 to 1, such as %1.").arg(readers.shareSample());
  };

  QString text = original;
  text.removeIf(isBidiMark);
  text = text.trimmed();
  if (money) text = withoutCurrencySymbol(text);
  if (text.isEmpty())
    return refuse((money ? KVRLocalized("No amount was typed.") : KVRLocalized("No royalties were typed.")) +
                  u' ' + expected());

  const std::optional<double> v = readers.whole(text);
  if (!v || !std::isfinite(*v))
    return refuse((money ? KVRLocalized("“%1” is not an amount.") : KVRLocalized("“%1” is not a share.")).arg(typed) +
                  u' ' + expected());
  if (std::fabs(*v) >= KVRAmountLimit)
    return refuse(KVRLocalized("“%1” is out of range: an amount stays below %2.")
                      .arg(typed, KVRFormatters::amountInLocale(KVRAmountLimit, locale)));
  switch (kind) {
    case KVRAmountKind::received:
      // What rounds to 0.00 records no payment.
      if (!(*v >= 0.005)) return refuse(KVRLocalized("The amount received must be above zero."));
      break;
    case KVRAmountKind::cost:
      if (*v < 0) return refuse(KVRLocalized("A cost cannot be negative: type 0 or more."));
      break;
    case KVRAmountKind::share:
      if (*v < 0 || *v > 1)
        return refuse(KVRLocalized("Royalties are a share from 0 to 1, such as %1 for 35%; “%2” is outside.")
                          .arg(readers.shareSample(), typed));
      break;
    case KVRAmountKind::any:
      break;
  }
  reading.value = *v == 0 ? 0.0 : *v;  // no negative zero
  return reading;
}

KVRAmountReading KVRReadAmountText(const QString& text, KVRAmountKind kind) {
  return KVRReadAmountText(text, kind, KVRFormatters::shared().numbersLocale());
}
