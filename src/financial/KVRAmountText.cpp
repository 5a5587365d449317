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
#include "platform/KVRICUSupport.h"
#include "platform/KVRLocalization.h"

namespace {

constexpr char16_t kNoBreakSpace = 0x00A0;
constexpr char16_t kNarrowNoBreakSpace = 0x202F;

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

// The locale's strict number readers: its plain numbers, and its money
// where the locale writes money with other separators (the amounts the
// application shows are written that way).
class Readers {
 public:
  explicit Readers(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> plain(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(plain.get());
    if (U_FAILURE(status) || !decimal) return;
    prepare(*decimal);
    const icu::DecimalFormatSymbols* symbols = decimal->getDecimalFormatSymbols();
    using S = icu::DecimalFormatSymbols;
    const bool moneyApart =
        symbols->getSymbol(S::kMonetarySeparatorSymbol) != symbols->getSymbol(S::kDecimalSeparatorSymbol) ||
        symbols->getSymbol(S::kMonetaryGroupingSeparatorSymbol) != symbols->getSymbol(S::kGroupingSeparatorSymbol);
    if (moneyApart) {
      std::unique_ptr<icu::DecimalFormat> money(decimal->clone());
      S moneySymbols(*symbols);
      moneySymbols.setSymbol(S::kDecimalSeparatorSymbol, symbols->getSymbol(S::kMonetarySeparatorSymbol));
      moneySymbols.setSymbol(S::kGroupingSeparatorSymbol, symbols->getSymbol(S::kMonetaryGroupingSeparatorSymbol));
      money->setDecimalFormatSymbols(moneySymbols);
      formats_.emplace_back(std::move(money));
    }
    formats_.insert(formats_.begin(), std::unique_ptr<icu::DecimalFormat>(decimal));
    plain.release();
  }

  // The whole text as a number; none when some of it is left over.
  std::optional<double> whole(const QString& text) const {
    if (text.isEmpty()) return std::nullopt;
    for (const auto& f : formats_) {
      int32_t consumed = 0;
      const std::optional<double> v = parse(*f, text, &consumed);
      if (v && consumed == text.size()) return v;
    }
    return std::nullopt;
  }

  // The longest number the text begins with, and its length.
  std::optional<double> leading(const QString& text, int32_t* length) const {
    std::optional<double> best;
    *length = 0;
    for (const auto& f : formats_) {
      int32_t consumed = 0;
      const std::optional<double> v = parse(*f, text, &consumed);
      if (v && consumed > *length) {
        best = v;
        *length = consumed;
      }
    }
    return best;
  }

 private:
  static void prepare(icu::DecimalFormat& f) {
    // Groups only where the locale puts them, and no exponent: "12.5" is no
    // thousand and "1E3" no number in German.
    f.setLenient(false);
    f.setParseNoExponent(true);
  }

  static std::optional<double> parse(const icu::DecimalFormat& f, const QString& text, int32_t* consumed) {
    const icu::UnicodeString u = KVRToUnicodeString(text);
    icu::Formattable result;
    icu::ParsePosition position(0);
    f.parse(u, result, position);
    if (position.getIndex() == 0 || position.getErrorIndex() >= 0) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const double v = result.getDouble(status);
    if (U_FAILURE(status)) return std::nullopt;
    *consumed = position.getIndex();
    return v;
  }

  std::vector<std::unique_ptr<icu::DecimalFormat>> formats_;
};

// The decimal number the text begins with, a point as decimal separator:
// an optional sign, digits, and a point with more digits; its length.
std::optional<double> leadingPointNumber(const QString& text, int32_t* length) {
  *length = 0;
  const qsizetype n = text.size();
  auto digitsFrom = [&](qsizetype i) {
    while (i < n && text[i] >= u'0' && text[i] <= u'9') ++i;
    return i;
  };
  qsizetype i = (n > 0 && (text[0] == u'-' || text[0] == u'+')) ? 1 : 0;
  const qsizetype integerEnd = digitsFrom(i);
  qsizetype end = integerEnd;
  if (integerEnd < n && text[integerEnd] == u'.') {
    const qsizetype fractionEnd = digitsFrom(integerEnd + 1);
    if (fractionEnd > integerEnd + 1) end = fractionEnd;
  }
  if (end == integerEnd && integerEnd == i) return std::nullopt;  // no digit
  bool ok = false;
  const double v = text.left(end).toDouble(&ok);
  if (!ok) return std::nullopt;
  *length = int32_t(end);
  return v;
}

bool isBidiMark(QChar c) { return c == QChar(0x200E) || c == QChar(0x200F) || c == QChar(0x061C); }

QString withoutSpaces(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text)
    if (!c.isSpace()) out.append(c);
  return out;
}

// The refusal of a text that holds no finite amount.
QString notAnAmountMessage(const QString& original) {
  return KVRLocalized("“%1” is not an amount. Type the amount received, such as 1234.56.").arg(original.trimmed());
}

}  // namespace

KVRAmountReading KVRReadAmountText(const QString& original, KVRAmountTextVariant variant, const icu::Locale& locale) {
  const bool typed = variant == KVRAmountTextVariant::typed;
  const Readers readers(locale);
  KVRAmountReading reading;
  auto accept = [&](std::optional<double> v) {
    if (!v) return false;
    if (!std::isfinite(*v)) {
      reading.error = notAnAmountMessage(original);
      return true;  // refused: no later step reads it otherwise
    }
    reading.value = *v;
    return true;
  };

  // 1. Currency symbols, the longer first; invisible direction marks too.
  QString text = original;
  for (const QString& symbol : symbolsLongestFirst()) text.remove(symbol);
  text.removeIf(isBidiMark);
  // 2. Apostrophes grouping thousands.
  if (typed) text.remove(u'\'');
  // 3 to 6: as it is, trimmed, no-break spaces as blanks, without blanks.
  if (accept(readers.whole(text))) return reading;
  text = text.trimmed();
  if (accept(readers.whole(text))) return reading;
  text.replace(QChar(kNoBreakSpace), u' ').replace(QChar(kNarrowNoBreakSpace), u' ');
  if (accept(readers.whole(text))) return reading;
  text = withoutSpaces(text);
  if (accept(readers.whole(text))) return reading;

  int32_t length = 0;
  // 7. A comma grouping before a decimal point: 1,234.56.
  if (typed) {
    const qsizetype comma = text.indexOf(u','), point = text.indexOf(u'.');
    if (comma >= 0 && point >= 0 && comma < point) {
      QString plain = text;
      plain.remove(u',');
      if (accept(readers.whole(plain))) return reading;
      if (accept(leadingPointNumber(plain, &length))) return reading;
    }
  }
  // 8. The number the text begins with.
  int32_t localeLength = 0, pointLength = 0;
  const std::optional<double> byLocale = readers.leading(text, &localeLength);
  const std::optional<double> byPoint = leadingPointNumber(text, &pointLength);
  if (accept(pointLength > localeLength ? byPoint : byLocale)) return reading;

  reading.error = original.trimmed().isEmpty()
                      ? KVRLocalized("No amount was typed. Type the amount received, such as 1234.56.")
                      : notAnAmountMessage(original);
  return reading;
}
