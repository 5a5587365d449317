#include "sampledata/KVRDatabaseSampleData.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "catalogue/KVRVortelyCurrencyConverter.h"
#include "catalogue/KVRVortelyStoreDataSource.h"
#include "core/KVRCalendar.h"
#include "core/KVRVortelyCoreDataManager.h"
#include "platform/KVRSupportFolder.h"
#include "platform/KVRUserDefaults.h"
#include "reports/KVRVortelyReportsManager.h"

namespace {

// ---------------------------------------------------------------------------
// Deterministic randomness: splitmix64, one stream per product, so that the
// output depends only on the seed (no library distribution whose algorithm
// may differ between standard libraries).

struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed = 1) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }  // [0, 1)
  double range(double a, double b) { return a + (b - a) * uniform(); }
  int below(int n) { return n <= 0 ? 0 : int(next() % uint64_t(n)); }
  bool chance(double p) { return uniform() < p; }
  double normal() {
    const double u1 = std::max(uniform(), 1e-300), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
  int poisson(double lambda) {
    if (!(lambda > 0)) return 0;
    if (lambda < 30) {
      const double limit = std::exp(-lambda);
      double p = uniform();
      int k = 0;
      while (p > limit) {
        p *= uniform();
        ++k;
      }
      return k;
    }
    return std::max(0, int(std::lround(lambda + std::sqrt(lambda) * normal())));
  }
};

uint64_t mix(uint64_t a, uint64_t b) {
  Rng r(a * 0x100000001b3ULL ^ (b + 0x632be59bd9b4e019ULL));
  r.next();
  return r.next();
}

uint64_t hashText(const QString& s) {
  uint64_t h = 1469598103934665603ULL;
  for (QChar c : s) h = (h ^ c.unicode()) * 1099511628211ULL;
  return h;
}

// ---------------------------------------------------------------------------
// Money

struct CurrencyFacts {
  const char* code;
  double pricePerUsd;  // local shelf price of one dollar's worth
  double usdValue;     // dollars per unit of the currency
};

constexpr CurrencyFacts kCurrencies[] = {
    {"USD", 1.0, 1.0},     {"EUR", 0.8, 1.31},   {"CAD", 1.0, 0.98},   {"GBP", 0.7, 1.57},
    {"JPY", 85.0, 0.0105}, {"AUD", 1.0, 0.97},   {"MXN", 12.5, 0.078}, {"NZD", 1.3, 0.82},
    {"NOK", 7.0, 0.17},    {"CHF", 1.1, 1.07},   {"CNY", 6.1, 0.16},   {"DKK", 6.0, 0.176},
    {"SEK", 7.0, 0.15},    {"SGD", 1.3, 0.80},   {"TWD", 30.0, 0.034}, {"HKD", 7.8, 0.129},
};

const CurrencyFacts& currencyFacts(const QString& code) {
  for (const CurrencyFacts& c : kCurrencies)
    if (code == QLatin1String(c.code)) return c;
  return kCurrencies[0];
}

// Shares of the market, for the countries that weigh; every other country
// gets a small share of its own.
struct CountryWeight {
  const char* code;
  double weight;
};
constexpr CountryWeight kBigCountries[] = {
    {"US", 30}, {"GB", 8},  {"DE", 7},   {"JP", 7},   {"FR", 6},   {"CN", 4.5}, {"CA", 4},   {"AU", 4},
    {"IT", 3.2}, {"ES", 3}, {"NL", 2.5}, {"RU", 2.2}, {"BR", 2},   {"KR", 1.8}, {"MX", 1.6}, {"SE", 1.5},
    {"CH", 1.5}, {"IN", 1.3}, {"BE", 1.2}, {"AT", 1.1}, {"NO", 1.0}, {"DK", 1.0}, {"HK", 0.9}, {"TW", 0.9},
    {"TR", 0.9}, {"PL", 0.9}, {"NZ", 0.8}, {"SG", 0.8}, {"IE", 0.6}, {"PT", 0.6}, {"FI", 0.6}, {"TH", 0.5},
    {"SA", 0.5}, {"AE", 0.5}, {"IL", 0.5}, {"ZA", 0.5}, {"AR", 0.4}, {"CL", 0.4}, {"CO", 0.4}, {"GR", 0.4},
    {"CZ", 0.4}, {"HU", 0.3}, {"MY", 0.3}, {"PH", 0.3}, {"ID", 0.3}, {"VN", 0.3}, {"UA", 0.3}, {"RO", 0.3},
};
const char* const kIAdCountries[] = {"US", "GB", "FR", "DE", "IT", "ES", "JP", "CA", "AU", "NZ"};

// ---------------------------------------------------------------------------
// The cast

enum class Kind { App, InApp, Book };

struct ProductRecipe {
  QString name;
  Kind kind = Kind::App;
  QString category;  // catalogue label
  bool mac = false;
  double priceUsd = 0;  // 0: free
  int account = 0;
  int parent = -1;        // in-app purchases: their application
  double launch = 0;      // fraction of the span
  double popularity = 1;
  bool iAd = false;
  bool education = false;
  bool subscription = false;
  bool freePromo = false;  // a paid app given away for a few days
};

struct AccountRecipe {
  QString name, developer, login;
  bool iAd = false;
  bool android = false;
};

struct SizeRecipe {
  int days;
  int countries;
  double unitsScale;  // units a day, worldwide, of a product of popularity 1
  std::vector<AccountRecipe> accounts;
  std::vector<ProductRecipe> products;
};

const AccountRecipe kMain{"Pelliro Soft", "Pelliro Soft", "sales@pelliro.example", true, false};
const AccountRecipe kEditions{"Pelliro Editions", "Pelliro Editions", "books@pelliro.example", false, false};
const AccountRecipe kAndroid{"Pelliro on Android", "Android Pelliro", "android@pelliro.example", false, true};

std::vector<ProductRecipe> demoProducts(int editionsAccount, int androidAccount) {
  std::vector<ProductRecipe> v;
  auto add = [&](ProductRecipe p) { v.push_back(std::move(p)); };
  // The same name twice: an iOS application and its Mac edition.
  add({"Skyline Sketch", Kind::App, "Photo & Video", false, 2.99, 0, -1, 0.0, 1.0});
  add({"Skyline Sketch", Kind::App, "Graphics & Design", true, 9.99, 0, -1, 0.15, 0.35, false, true});
  add({"Pocket Orbit", Kind::App, "Games", false, 0, 0, -1, 0.04, 2.5, true});
  add({"Pocket Orbit Gold Pack", Kind::InApp, "In-App Purchase", false, 0.99, 0, 2, 0.08, 0.45});
  add({"Pocket Orbit Coins", Kind::InApp, "In-App Purchase", false, 1.99, 0, 2, 0.3, 0.3});
  add({"Skyline Sketch Cloud", Kind::InApp, "In-App Purchase", false, 1.99, 0, 0, 0.35, 0.25, false, false, true});
  add({"Tide Tables Pro", Kind::App, "Weather", false, 0.99, 0, -1, 0.12, 0.6, false, false, false, true});
  add({"Little Atlas", Kind::App, "Education", false, 1.99, editionsAccount, -1, 0.02, 0.5, false, true});
  add({"The Lantern Keeper", Kind::Book, "E-Book", false, 4.99, editionsAccount, -1, 0.06, 0.3});
  add({"Recipes of the Valley", Kind::Book, "E-Book", false, 9.99, editionsAccount, -1, 0.5, 0.2});
  add({"Trail Compass", Kind::App, "Travel", false, 0.99, androidAccount, -1, 0.08, 0.7});
  add({"Night Sky Guide", Kind::App, "Reference", false, 0, androidAccount, -1, 0.3, 0.9});
  return v;
}

SizeRecipe sizeRecipe(KVRSampleDataSize size, Rng& rng) {
  SizeRecipe s;
  switch (size) {
    case KVRSampleDataSize::Small: {
      s.days = 60;
      s.countries = 12;
      s.unitsScale = 160;
      s.accounts = {kMain, kAndroid};
      const std::vector<ProductRecipe> all = demoProducts(0, 1);
      for (int i : {0, 1, 2, 3, 5, 6, 8, 10}) {
        ProductRecipe p = all[size_t(i)];
        p.launch = std::min(p.launch, 0.2);
        // The parents (indices 0 and 2) keep their places in this selection.
        s.products.push_back(p);
      }
      break;
    }
    case KVRSampleDataSize::Demo:
      s.days = 730;
      s.countries = 30;
      s.unitsScale = 120;
      s.accounts = {kMain, kEditions, kAndroid};
      s.products = demoProducts(1, 2);
      break;
    case KVRSampleDataSize::Large: {
      s.days = 1826;
      s.countries = 150;
      s.unitsScale = 12;
      s.accounts = {kMain, kEditions, kAndroid,
                    {"Brightwater Apps", "Brightwater Apps", "team@brightwater.example", true, false},
                    {"Northwind Games", "Northwind Games", "office@northwind.example", false, false},
                    {"Brightwater on Android", "Android Brightwater", "droid@brightwater.example", false, true}};
      s.products = demoProducts(1, 2);
      const char* adjectives[] = {"Bright", "Quiet", "Swift", "Hidden", "Golden", "Tiny", "Silver", "Wild",
                                  "Clever", "Lucky", "Frozen", "Paper", "Velvet", "Iron", "Sunny", "Misty"};
      const char* nouns[] = {"Garden", "Harbor", "Rocket", "Lantern", "Meadow", "Puzzle", "Canvas", "Falcon",
                             "Journal", "Compass", "Island", "Bakery", "Studio", "Castle", "River", "Planet"};
      std::vector<QString> iosCategories, macCategories;
      for (const KVRCategoryRow& c : KVRVortelyStoreDataSource::categories()) {
        if (c.Value == 0) continue;
        (c.mac ? macCategories : iosCategories).push_back(c.Label);
      }
      std::set<QString> used;
      for (const ProductRecipe& p : s.products) used.insert(p.name);
      while (s.products.size() < 200) {
        ProductRecipe p;
        QString name;
        do {
          name = QString::fromLatin1(adjectives[rng.below(16)]) + QLatin1Char(' ') +
                 QString::fromLatin1(nouns[rng.below(16)]);
          if (rng.chance(0.3)) name += QStringLiteral(" %1").arg(2 + rng.below(3));
        } while (used.count(name) && rng.chance(0.98));
        used.insert(name);
        const double roll = rng.uniform();
        const int account = rng.below(int(s.accounts.size()));
        p.account = account;
        p.launch = rng.range(0.0, 0.9);
        p.popularity = std::exp(rng.normal() * 0.9) * 0.6;
        p.priceUsd = rng.chance(0.3) ? 0 : std::vector<double>{0.99, 0.99, 1.99, 2.99, 4.99, 9.99}[size_t(rng.below(6))];
        if (s.accounts[size_t(account)].android) {
          p.kind = Kind::App;
          p.category = iosCategories[size_t(rng.below(int(iosCategories.size())))];
          p.name = name;
        } else if (account == 1 && roll < 0.5) {
          p.kind = Kind::Book;
          p.category = QStringLiteral("E-Book");
          p.priceUsd = std::max(p.priceUsd, 2.99);
          p.name = QStringLiteral("The ") + name;
        } else if (roll < 0.3) {
          // An in-app purchase of an earlier application of the same account.
          std::vector<int> apps;
          for (size_t i = 0; i < s.products.size(); ++i)
            if (s.products[i].account == account && s.products[i].kind == Kind::App) apps.push_back(int(i));
          if (apps.empty()) continue;
          p.parent = apps[size_t(rng.below(int(apps.size())))];
          const ProductRecipe& parent = s.products[size_t(p.parent)];
          p.kind = Kind::InApp;
          p.category = QStringLiteral("In-App Purchase");
          p.name = parent.name + QStringLiteral(" ") + QString::fromLatin1(nouns[rng.below(16)]) + QStringLiteral(" Pack");
          p.launch = std::min(0.95, parent.launch + rng.range(0.02, 0.3));
          p.priceUsd = std::max(p.priceUsd, 0.99);
          p.subscription = rng.chance(0.15);
          p.popularity *= 0.5;
        } else {
          p.kind = Kind::App;
          p.mac = rng.chance(0.12);
          const auto& cats = p.mac ? macCategories : iosCategories;
          p.category = cats[size_t(rng.below(int(cats.size())))];
          p.name = name;
          p.iAd = p.priceUsd == 0 && s.accounts[size_t(account)].iAd && rng.chance(0.5);
          p.education = p.category == QLatin1String("Education") || (p.mac && rng.chance(0.5));
          p.freePromo = p.priceUsd > 0 && rng.chance(0.1);
        }
        s.products.push_back(p);
      }
      break;
    }
  }
  return s;
}

// ---------------------------------------------------------------------------
// Days

int weekdayMonday0(KVRCivilDay d) { return int(((d % 7) + 7 + 3) % 7); }  // 1970-01-01 was a Thursday

QString ymd(KVRCivilDay d, const char* format) {
  const KVRYMD c = KVRYMDFromCivilDay(d);
  return QDate(c.year, int(c.month), int(c.day)).toString(QLatin1String(format));
}

struct FiscalMonth {
  KVRCivilDay begin, end;  // the Sunday on or before the 1st, the day before the next one
  int year, month;
};

KVRCivilDay sundayOnOrBefore(KVRCivilDay d) { return d - (weekdayMonday0(d) + 1) % 7; }

// ---------------------------------------------------------------------------

struct Country {
  QString code;        // upper case
  QString storefront;  // catalogue Value
  QString region;
  QString currency;
  double weight = 0;   // share of the units
  bool iAd = false;
};

struct Product {
  ProductRecipe recipe;
  KVRVortelyManagedProduct* obj = nullptr;
  Rng rng;
  KVRCivilDay launchDay = 0;
  double growth = 0;
  std::vector<float> affinity;            // per country
  std::vector<KVRCivilDay> releases;      // new versions (update waves)
  std::vector<std::pair<KVRCivilDay, KVRCivilDay>> bursts;  // featured periods
  KVRCivilDay promoBegin = 0, promoEnd = -1;
  std::map<QString, int> incomeByCurrency;  // proceeds per unit, hundredths
  KVRCivilDay firstDay = INT32_MAX, lastDay = INT32_MIN;
  int entryType = KVREntryTypeSale;
};

struct Account {
  AccountRecipe recipe;
  KVRStoreAccount* obj = nullptr;
  QString vendor;
  QString financialFolder;
  std::vector<int> products;
  // week lines: (product, country, type, income) -> units
  std::map<std::tuple<int, int, int, int>, int> week;
  // fiscal month lines: (region, product, country, type, income) -> units
  std::map<std::tuple<QString, int, int, int, int>, int> month;
  std::map<QString, int64_t> balance;  // unpaid hundredths per region
  int64_t adBalance = 0;               // unpaid ad revenue, cents
  double adMonth = 0;
};

class Generator {
 public:
  Generator(const KVRSampleDataOptions& o, const std::function<void(const QString&)>& progress)
      : options_(o), progress_(progress), rng_(mix(o.seed, 0x5eed)) {}

  bool run(KVRSampleDataSummary* summary, QString* error);

 private:
  void say(const QString& s) {
    if (progress_) progress_(s);
  }
  void setUpCountries();
  void setUpAccountsAndProducts();
  double lambda(const Product& p, int c, KVRCivilDay d) const;
  KVRReportEntry* line(KVRReport* r, Product& p, int type, int subType, int count, int income, const Country& c,
                       KVRCivilDay begin, KVRCivilDay end);
  void simulateDay(Account& a, KVRCivilDay d);
  void flushWeek(Account& a, KVRCivilDay sunday);
  void flushFiscalMonth(Account& a, const FiscalMonth& m);
  void adDay(Account& a, KVRCivilDay d);
  void ratingsCostsPartners();
  bool writeRatesAndDefaults(QString* error);
  KVRDate date(KVRCivilDay d) {
    auto it = dates_.find(d);
    if (it != dates_.end()) return it->second;
    const KVRDate v = KVRCalendar::shared().dateFromCivilDay(d);
    dates_.emplace(d, v);
    return v;
  }
  KVRReport* report(Account& a, int type, const QString& fileName, KVRCivilDay begin, KVRCivilDay end) {
    KVRReport* r = dm_.insertReport();
    r->filename = a.recipe.developer + QLatin1Char('-') + fileName;
    r->type = type;
    r->account = a.obj;
    r->beginDate = date(begin);
    r->endDate = date(end);
    ++reports_;
    return r;
  }

  KVRSampleDataOptions options_;
  std::function<void(const QString&)> progress_;
  Rng rng_;
  KVRVortelyCoreDataManager& dm_ = KVRVortelyCoreDataManager::sharedInstance();
  SizeRecipe recipe_;
  std::vector<Country> countries_;
  std::vector<Account> accounts_;
  std::vector<Product> products_;
  std::map<KVRCivilDay, KVRDate> dates_;
  std::set<QString> currenciesUsed_;
  KVRCivilDay first_ = 0, last_ = 0, dailyStart_ = 0;
  std::vector<FiscalMonth> fiscal_;
  int reports_ = 0;
  int files_ = 0;
  QString fileError_;
};

void Generator::setUpCountries() {
  std::vector<Country> all;
  for (const KVRCountryRow& row : KVRVortelyStoreDataSource::countries()) {
    Country c;
    c.code = row.ShortDesc.toUpper();
    c.storefront = row.Value;
    c.region = row.Region;
    c.currency = row.CurrencyFormat.isEmpty() ? QStringLiteral("USD") : row.CurrencyFormat;
    c.weight = 0.05 + double(hashText(c.code) % 1000) / 5000.0;  // the long tail: 0.05 to 0.25
    for (const CountryWeight& w : kBigCountries)
      if (c.code == QLatin1String(w.code)) c.weight = w.weight;
    for (const char* code : kIAdCountries)
      if (c.code == QLatin1String(code)) c.iAd = true;
    all.push_back(c);
  }
  std::stable_sort(all.begin(), all.end(), [](const Country& a, const Country& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.code < b.code;
  });
  all.resize(std::min(all.size(), size_t(recipe_.countries)));
  double total = 0;
  for (const Country& c : all) total += c.weight;
  for (Country& c : all) {
    c.weight /= total;
    currenciesUsed_.insert(c.currency);
  }
  countries_ = std::move(all);
}

void Generator::setUpAccountsAndProducts() {
  for (size_t i = 0; i < recipe_.accounts.size(); ++i) {
    Account a;
    a.recipe = recipe_.accounts[i];
    a.obj = dm_.insertStoreAccount();
    a.obj->name = a.recipe.name;
    a.obj->developer = a.recipe.developer;
    a.obj->login = a.recipe.login;
    a.obj->password = i % 2 ? QStringLiteral("NONE") : QStringLiteral("KEYCHAIN");
    a.vendor = QString::number(80012345 + int(i) * 1111);
    accounts_.push_back(std::move(a));
  }
  const int span = last_ - first_ + 1;
  for (size_t i = 0; i < recipe_.products.size(); ++i) {
    Product p;
    p.recipe = recipe_.products[i];
    p.rng = Rng(mix(options_.seed, 1000 + i));
    Account& a = accounts_[size_t(p.recipe.account)];
    a.products.push_back(int(i));
    p.obj = dm_.insertProduct(a.obj);
    p.obj->idStore = (a.recipe.android ? 7100000000LL : 400000000LL) + int64_t(i) * 7919 + int64_t(p.rng.below(7000));
    p.obj->name = p.recipe.name;
    p.obj->category = p.recipe.category;
    p.obj->free = p.recipe.priceUsd == 0;
    QString slug = p.recipe.name.toLower();
    slug.remove(QLatin1Char(' '));
    p.obj->bundleIdentifier = (a.recipe.android ? QStringLiteral("org.") : QStringLiteral("com.")) +
                              a.recipe.name.section(QLatin1Char(' '), 0, 0).toLower() + QLatin1Char('.') + slug +
                              (p.recipe.mac ? QStringLiteral(".mac") : QString());
    p.launchDay = first_ + int(p.recipe.launch * span);
    p.growth = std::clamp(0.15 + 0.35 * p.rng.normal(), -0.5, 0.9);
    for (size_t c = 0; c < countries_.size(); ++c)
      p.affinity.push_back(float(std::exp(0.45 * p.rng.normal())));
    if (p.recipe.kind == Kind::App) {
      for (KVRCivilDay r = p.launchDay + 60 + p.rng.below(60); r <= last_; r += 70 + p.rng.below(80))
        p.releases.push_back(r);
      p.obj->version = QStringLiteral("%1.%2").arg(1 + int(p.releases.size()) / 4).arg(int(p.releases.size()) % 4);
    }
    for (int b = 0, n = 1 + p.rng.below(3); b < n; ++b) {
      const KVRCivilDay start = p.launchDay + p.rng.below(std::max(1, last_ - p.launchDay));
      p.bursts.emplace_back(start, start + 6 + p.rng.below(10));
    }
    if (p.recipe.freePromo) {
      p.promoBegin = p.launchDay + (last_ - p.launchDay) * 6 / 10;
      p.promoEnd = p.promoBegin + 2;
    }
    for (const QString& cur : currenciesUsed_) {
      const double local = std::round(p.recipe.priceUsd * currencyFacts(cur).pricePerUsd * 100.0) / 100.0;
      p.incomeByCurrency[cur] = int(std::lround(local * 70.0));  // the developer's 70 %, in hundredths
    }
    if (p.recipe.kind == Kind::InApp) p.entryType = KVREntryTypeInAppPurchase;
    products_.push_back(std::move(p));
  }
}

double Generator::lambda(const Product& p, int c, KVRCivilDay d) const {
  const int t = d - p.launchDay;
  if (t < 0) return 0;
  double f = recipe_.unitsScale * p.recipe.popularity * countries_[size_t(c)].weight * p.affinity[size_t(c)];
  f *= 1.0 + 3.0 * std::exp(-t / 12.0);                 // launch
  f *= std::exp(p.growth * t / 365.0);                  // growth or decline
  static const double week[7] = {0.92, 0.9, 0.93, 0.97, 1.05, 1.2, 1.18};
  f *= week[weekdayMonday0(d)];
  const KVRYMD ymd = KVRYMDFromCivilDay(d);
  if ((ymd.month == 12 && ymd.day >= 24) || (ymd.month == 1 && ymd.day <= 2)) f *= 1.9;
  for (const auto& b : p.bursts)
    if (d >= b.first && d <= b.second) f *= 2.5;
  if (d >= p.promoBegin && d <= p.promoEnd) f *= 6;
  return f;
}

KVRReportEntry* Generator::line(KVRReport* r, Product& p, int type, int subType, int count, int income,
                                const Country& c, KVRCivilDay begin, KVRCivilDay end) {
  KVRReportEntry* e = dm_.insertReportEntry(r, p.obj);
  e->type = type;
  e->subType = subType;
  e->count = count;
  e->income = income;
  e->currency = c.currency;  // shared text
  e->country = c.code;
  e->beginDate = date(begin);
  e->endDate = date(end);
  p.firstDay = std::min(p.firstDay, begin);
  p.lastDay = std::max(p.lastDay, begin);
  return e;
}

void Generator::simulateDay(Account& a, KVRCivilDay d) {
  const bool daily = d >= dailyStart_;
  // Weekly reports cover the oldest part and a few weeks beyond, where both kinds exist.
  const bool weekly = d < dailyStart_ + 28;
  KVRReport* r = nullptr;
  auto dailyReport = [&]() {
    if (!r) r = report(a, KVRReportTypeDaily, QStringLiteral("S_D_%1_%2.txt").arg(a.vendor, ymd(d, "yyyyMMdd")), d, d);
    return r;
  };
  const bool holidays = [&] {
    const KVRYMD x = KVRYMDFromCivilDay(d);
    return (x.month == 12 && x.day >= 20) || (x.month == 1 && x.day <= 3);
  }();
  for (int pi : a.products) {
    Product& p = products_[size_t(pi)];
    if (d < p.launchDay) continue;
    const bool promo = d >= p.promoBegin && d <= p.promoEnd;
    double updateWave = 0;
    for (KVRCivilDay rel : p.releases)
      if (d >= rel && d < rel + 14) updateWave += 6.0 * std::exp(-(d - rel) / 3.0);
    for (size_t ci = 0; ci < countries_.size(); ++ci) {
      const Country& c = countries_[ci];
      const double lam = lambda(p, int(ci), d);
      const int price = promo ? 0 : p.incomeByCurrency[c.currency];
      auto put = [&](int type, int subType, int count, int income) {
        if (count == 0) return;
        if (daily) line(dailyReport(), p, type, subType, count, income, c, d, d);
        if (weekly && subType == KVREntrySubTypeStandard && type != KVREntryTypeRefund)
          a.week[{pi, int(ci), type, income}] += count;
        // Android accounts get one earnings report a month for every region.
        if (income != 0) a.month[{a.recipe.android ? QString() : c.region, pi, int(ci), type, income}] += count;
      };
      const int units = p.rng.poisson(lam);
      if (p.recipe.subscription) {
        put(p.entryType, KVREntrySubTypeNewSubscription, units, price);
        const double renewing = 0.7 * lambda(p, int(ci), d - 30) * std::min(1.0, (d - p.launchDay) / 30.0);
        put(p.entryType, KVREntrySubTypeRenewal, p.rng.poisson(renewing), price);
      } else {
        put(p.entryType, KVREntrySubTypeStandard, units, price);
      }
      if (lam < 0.02) continue;  // the rare extras only where something sells
      if (updateWave > 0 && p.recipe.kind == Kind::App) put(KVREntryTypeUpgrade, 0, p.rng.poisson(lam * updateWave), 0);
      if (price > 0) {
        put(KVREntryTypeRefund, 0, -p.rng.poisson(lam * 0.01), price);
        put(p.entryType, KVREntrySubTypeGiftPurchase, p.rng.poisson(lam * (holidays ? 0.06 : 0.01)), price);
        put(p.entryType, KVREntrySubTypeGiftRedemption, p.rng.poisson(lam * (holidays ? 0.05 : 0.008)), 0);
        if (p.recipe.education && weekdayMonday0(d) < 5)
          put(p.entryType, KVREntrySubTypeEducation, p.rng.poisson(lam * 0.08), price / 2);
      }
      if (ci < 5 && p.recipe.kind != Kind::InApp && p.rng.chance(0.015))
        put(p.entryType, KVREntrySubTypePromoCode, 1 + p.rng.poisson(2), 0);
    }
  }
}

void Generator::flushWeek(Account& a, KVRCivilDay sunday) {
  if (a.week.empty()) return;
  const KVRCivilDay monday = sunday - 6;
  KVRReport* r = report(a, KVRReportTypeWeekly, QStringLiteral("S_W_%1_%2.txt").arg(a.vendor, ymd(sunday, "yyyyMMdd")),
                        monday, sunday);
  for (const auto& [key, count] : a.week) {
    const auto& [pi, ci, type, income] = key;
    if (count != 0) line(r, products_[size_t(pi)], type, 0, count, income, countries_[size_t(ci)], monday, sunday);
  }
  a.week.clear();
}

void Generator::adDay(Account& a, KVRCivilDay d) {
  KVRReport* r = nullptr;
  for (int pi : a.products) {
    Product& p = products_[size_t(pi)];
    if (!p.recipe.iAd || d < p.launchDay) continue;
    for (size_t ci = 0; ci < countries_.size(); ++ci) {
      const Country& c = countries_[ci];
      if (!c.iAd) continue;
      const double players = lambda(p, int(ci), d) * 40.0 * (1.0 + (d - p.launchDay) / 120.0);
      const float requests = float(std::max(0, p.rng.poisson(players)));
      if (requests <= 0) continue;
      if (!r) r = report(a, KVRReportTypeIAd, QStringLiteral("iAd_%1.csv").arg(ymd(d, "yyyyMMdd")), d, d);
      KVRiAdReportEntry* e = dm_.insertIAdReportEntry(r, p.obj);
      e->date = date(d);
      e->country = c.code;
      e->requests = requests;
      e->fillRate = float(std::round(p.rng.range(35.0, 92.0) * 100.0) / 100.0);
      e->impressions = std::round(requests * e->fillRate / 100.0f);
      e->ctr = float(std::round(p.rng.range(0.4, 3.0) * 100.0) / 100.0);
      e->eCPM = float(std::round(p.rng.range(0.6, 4.5) * 100.0) / 100.0);
      e->revenue = float(std::round(double(e->impressions) * e->eCPM / 10.0) / 100.0);
      a.adMonth += e->revenue;
      p.firstDay = std::min(p.firstDay, d);
      p.lastDay = std::max(p.lastDay, d);
    }
  }
}

void Generator::flushFiscalMonth(Account& a, const FiscalMonth& m) {
  const QString mmyy = QStringLiteral("%1%2").arg(m.month, 2, 10, QLatin1Char('0')).arg(m.year % 100, 2, 10, QLatin1Char('0'));
  const KVRCivilDay payDay = m.end + 14;
  const bool paid = payDay <= last_;
  const QString fileDate = ymd(m.begin, "MM/dd/yyyy"), fileEnd = ymd(m.end, "MM/dd/yyyy");

  auto payment = [&](const QString& region, const QString& currency, int64_t prior, int64_t current,
                     int64_t withholding, int64_t tax) {
    const int64_t amount = prior + current + withholding + tax;
    KVRReport* r = report(a, KVRReportTypePayment, QStringLiteral("Payment_%1_%2.txt").arg(region, ymd(m.begin + 15, "yyyyMM")),
                          m.begin, payDay);
    auto payLine = [&](int type, int64_t income, const QString& cur) {
      KVRReportEntry* e = dm_.insertReportEntry(r, nullptr);
      e->type = type;
      e->count = 1;
      e->income = int(income);
      e->currency = cur;
      e->country = region;
      e->beginDate = date(m.begin);
      e->endDate = date(payDay);
    };
    payLine(KVREntryTypePriorBalance, prior, currency);
    payLine(KVREntryTypeCurrentMonth, current, currency);
    if (withholding) payLine(KVREntryTypeWithholdingTax, withholding, currency);
    if (tax) payLine(KVREntryTypeGstJctTax, tax, currency);
    payLine(KVREntryTypePayment, amount, currency);
    // Most payments older than a few days are reconciled with the bank statement.
    const bool reconciled = payDay + 10 <= last_ && mix(hashText(a.recipe.name + region), uint64_t(m.begin)) % 5 != 0;
    if (reconciled) {
      const bool euros = currency != QLatin1String("USD") && currency != QLatin1String("IAD");
      const QString bank = euros ? QStringLiteral("EUR") : QStringLiteral("USD");
      const double value = double(amount) / 100.0 * currencyFacts(currency).usdValue / currencyFacts(bank).usdValue;
      r->status = KVRReportStatusPointed;
      r->pointedIncome = float(std::round(value * 0.995 * 100.0) / 100.0);
      r->pointedDate = date(payDay + 3);
      r->pointedAccount = euros ? QStringLiteral("Pelliro Business EUR") : QStringLiteral("Pelliro USD Account");
      payLine(KVREntryTypeReconciliation, std::llround(double(r->pointedIncome) * 100.0), bank);
    }
  };

  // Financial reports, one per money region; for an Android account one a
  // month, its lines in the buyers' currencies.
  using MonthLine = std::pair<std::tuple<QString, int, int, int, int>, int>;
  std::map<QString, std::vector<MonthLine>> byRegion;
  for (const auto& kv : a.month) byRegion[std::get<0>(kv.first)].push_back(kv);
  const int monthIndex = int(&m - fiscal_.data());
  const bool mainAccount = &a == &accounts_.front();
  for (auto& [region, lines] : byRegion) {
    const bool android = region.isEmpty();
    const QString currency = KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(region).isEmpty()
                                 ? QStringLiteral("USD")
                                 : KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(region);
    // One month of the main account where refunds outweigh the sales in Canada.
    if (mainAccount && region == QLatin1String("CA") && monthIndex == int(fiscal_.size()) / 2) {
      int64_t sales = 0;
      const MonthLine* biggest = nullptr;
      for (const MonthLine& l : lines) {
        sales += int64_t(l.second) * std::get<4>(l.first);
        if (l.second > 0 && (!biggest || l.second > biggest->second)) biggest = &l;
      }
      if (biggest) {
        auto key = biggest->first;
        std::get<3>(key) = KVREntryTypeRefund;
        lines.emplace_back(key, -int(sales / std::get<4>(key)) - 3);
      }
    }
    const KVRCivilDay begin = android ? KVRCivilDayFromYMD(m.year, unsigned(m.month), 1) : m.begin;
    const KVRCivilDay end = android ? KVRCivilDayFromYMD(m.month == 12 ? m.year + 1 : m.year,
                                                         unsigned(m.month % 12 + 1), 1) - 1
                                    : m.end;
    const QString fileName = android ? QStringLiteral("Earnings_%1_%2%3.txt")
                                           .arg(a.vendor)
                                           .arg(m.year)
                                           .arg(m.month, 2, 10, QLatin1Char('0'))
                                     : QStringLiteral("%1_%2_%3.txt").arg(a.vendor, mmyy, region);
    KVRReport* r = report(a, KVRReportTypeFinancial, fileName, begin, end);
    // A few reports of another vendor's archive, put aside by the statement.
    KVRReport* zuvo = nullptr;
    QString zuvoFileName;
    if (mainAccount && region == QLatin1String("US") &&
        (monthIndex == int(fiscal_.size()) / 4 || monthIndex == int(fiscal_.size()) / 2 + 1)) {
      zuvoFileName = QStringLiteral("Sales_%1_US.txt").arg(mmyy);
      zuvo = report(a, KVRReportTypeFinancial, zuvoFileName, begin, end);
      zuvo->filename = QStringLiteral("Zuvo-") + zuvoFileName;
    }
    QByteArray file =
        "Start Date\tEnd Date\tUPC\tISRC/ISBN\tVendor Identifier\tQuantity\tPartner Share\tExtended Partner Share\t"
        "Partner Share Currency\tSales or Return\tStore Identifier\tDeveloper\tTitle\tPublisher\tGrid\t"
        "Product Type Identifier\tOther Identifier\tCountry Of Sale\tPre-order Flag\tPromo Code\tCustomer Price\t"
        "Customer Currency\n";
    const QByteArray header = file;
    int64_t total = 0;
    int units = 0;
    for (const auto& [key, count] : lines) {
      const auto& [reg, pi, ci, type, income] = key;
      if (count == 0) continue;
      Product& p = products_[size_t(pi)];
      const Country& c = countries_[size_t(ci)];
      const QString lineCurrency = !android ? currency
                                   : c.region == QLatin1String("WW") && c.currency == QLatin1String("USD")
                                       ? QStringLiteral("USD RoW")
                                       : c.currency;
      auto addLine = [&](KVRReport* into) {
        KVRReportEntry* e = dm_.insertReportEntry(into, p.obj);
        e->type = type;
        e->count = count;
        e->income = income;
        e->currency = lineCurrency;
        e->country = c.code;
        e->beginDate = date(begin);
        e->endDate = date(end);
      };
      addLine(r);
      if (zuvo && units < 40) addLine(zuvo);  // the same line in the put-aside copy
      total += int64_t(count) * income;
      units += count;
      const QString kind = p.recipe.kind == Kind::InApp ? QStringLiteral("IA1")
                           : p.recipe.kind == Kind::Book ? QStringLiteral("EB1")
                           : p.recipe.mac               ? QStringLiteral("F1")
                                                      : QStringLiteral("1");
      const QStringList fields = {fileDate, fileEnd, QString(), QString(), p.obj->bundleIdentifier,
                                  QString::number(count), QString::number(income / 100.0, 'f', 2),
                                  QString::number(count * (income / 100.0), 'f', 2), lineCurrency,
                                  type == KVREntryTypeRefund ? QStringLiteral("R") : QStringLiteral("S"),
                                  QString::number(p.obj->idStore), a.recipe.developer, p.recipe.name, a.recipe.developer,
                                  QString(), kind, QString(), c.code, QString(), QString(),
                                  QString::number(income / 70.0, 'f', 2), c.currency};
      file += fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    }
    file += QStringLiteral("Total_Amount\t%1\n").arg(QString::number(total / 100.0, 'f', 2)).toUtf8();
    auto writeFile = [&](const QString& name, const QByteArray& bytes) {
      QFile out(a.financialFolder + QLatin1Char('/') + name);
      if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        fileError_ = QStringLiteral("Cannot write %1").arg(out.fileName());
      ++files_;
    };
    writeFile(fileName, file);
    if (zuvo) {
      // The archive's copy: the header and the lines of the copied products.
      QByteArray copy = header;
      const QList<QByteArray> rows = file.split('\n');
      int64_t copied = 0;
      for (qsizetype i = 1; i < rows.size() && i <= qsizetype(zuvo->entries.size()); ++i) copy += rows[i] + '\n';
      for (const KVRReportEntry* e : zuvo->entries) copied += int64_t(e->count) * e->income;
      copy += QStringLiteral("Total_Amount\t%1\n").arg(QString::number(copied / 100.0, 'f', 2)).toUtf8();
      writeFile(zuvoFileName, copy);
    }
    if (android) continue;  // Android payouts are not imported

    // The region's balance (a month of refunds lowers it), paid once it
    // passes the threshold (about 150 dollars).
    const int64_t prior = a.balance[region];
    a.balance[region] = prior + total;
    const int64_t threshold = int64_t(150.0 / currencyFacts(currency).usdValue * 100.0);
    if (!paid || total <= 0 || prior + total < threshold) continue;
    int64_t withholding = 0, tax = 0;
    if (region == QLatin1String("JP")) {
      withholding = -(total * 2) / 100;  // Japan pays less than it reports
      tax = -(total * 1) / 100;
    }
    payment(region, currency, prior, total, withholding, tax);
    a.balance[region] = 0;
  }
  a.month.clear();

  // Ad income: paid in dollars under the region "IAD".
  if (a.recipe.iAd) {
    const int64_t current = std::llround(a.adMonth * 100.0);
    a.adMonth = 0;
    const int64_t prior = a.adBalance;
    a.adBalance += current;
    if (paid && current > 0 && a.adBalance >= 15000) {
      payment(QStringLiteral("IAD"), QStringLiteral("IAD"), prior, current, 0, 0);
      a.adBalance = 0;
    }
  }
}

void Generator::ratingsCostsPartners() {
  static const double shares[5] = {0.07, 0.05, 0.1, 0.26, 0.52};
  for (Product& p : products_) {
    if (p.recipe.kind == Kind::InApp) continue;
    const int ratingCountries = std::min<int>(int(countries_.size()), 20);
    for (int ci = 0; ci < ratingCountries; ++ci) {
      const Country& c = countries_[size_t(ci)];
      const double votes = recipe_.unitsScale * p.recipe.popularity * c.weight * p.affinity[size_t(ci)] *
                           std::max(1, p.lastDay - p.launchDay) * 0.02;
      for (int slot = 0; slot < 2; ++slot) {
        if (slot == 1 && ci >= 5) break;  // current-version votes only where many vote
        for (int stars = 1; stars <= 5; ++stars) {
          const int count = p.rng.poisson(votes * shares[stars - 1] * (slot ? 0.2 : 1.0));
          if (count == 0 || (ci > 3 && p.rng.chance(0.15))) continue;  // some levels stay empty
          KVRRating* r = dm_.insertRating(p.obj);
          r->country = c.storefront;
          r->stars = stars;
          r->allVersions = slot == 0;
          r->count = count;
          r->newCount = p.rng.chance(0.3) ? std::min(count, 1 + p.rng.below(4)) : 0;
        }
      }
    }
  }
  auto cost = [&](int pi, const char* name, double value) {
    if (pi >= int(products_.size())) return;
    KVRCost* c = dm_.insertCost(products_[size_t(pi)].obj);
    c->name = QString::fromLatin1(name);
    c->value = value;
  };
  auto partner = [&](int pi, const char* name, double costValue, double royalties) {
    if (pi >= int(products_.size())) return;
    KVRPartner* x = dm_.insertPartner(products_[size_t(pi)].obj);
    x->name = QString::fromLatin1(name);
    x->cost = costValue;
    x->royalties = royalties;
  };
  cost(0, "Design", 2500);
  cost(0, "Server hosting", 480);
  partner(0, "Illustrator", 800, 0.05);
  for (size_t i = 0; i < products_.size(); ++i) {
    if (products_[i].recipe.kind != Kind::Book) continue;
    cost(int(i), "Editing", 1200);
    partner(int(i), "Author", 0, 0.35);
  }
}

bool Generator::writeRatesAndDefaults(QString* error) {
  auto& converter = KVRVortelyCurrencyConverter::sharedInstance();
  std::set<QString> codes = currenciesUsed_;
  codes.insert(QStringLiteral("USD"));
  codes.insert(QStringLiteral("EUR"));
  for (const QString& a : codes)
    for (const QString& b : codes)
      if (a < b) converter.setRate(a, b, currencyFacts(a).usdValue / currencyFacts(b).usdValue);
  if (!converter.saveRates(error)) return false;

  std::vector<KVRFinancialAccount> banks = KVRVortelyCurrencyConverter::financialAccounts();
  const KVRFinancialAccount ours[] = {
      {"Pelliro Business EUR", "Pelliro SARL", "Banque du Lac", "FR76 3000 4000 0500 0012 3456 789", "Checking", "EUR", true},
      {"Pelliro USD Account", "Pelliro SARL", "First Harbor Bank", "000123456789", "Checking", "USD", false},
  };
  for (const KVRFinancialAccount& b : ours) {
    auto it = std::find_if(banks.begin(), banks.end(), [&](const KVRFinancialAccount& x) { return x.Label == b.Label; });
    if (it == banks.end()) banks.push_back(b); else *it = b;
  }
  KVRVortelyCurrencyConverter::setFinancialAccountsDefault(banks);
  KVRUserDefaults::standard().synchronize();
  return true;
}

bool Generator::run(KVRSampleDataSummary* summary, QString* error) {
  QElapsedTimer clock;
  clock.start();
  recipe_ = sizeRecipe(options_.size, rng_);
  last_ = options_.lastDay;
  if (last_ == 0) {
    const QDate today = QDate::currentDate();
    last_ = KVRCivilDayFromYMD(today.year(), unsigned(today.month()), unsigned(today.day())) - 1;
  }
  first_ = last_ - recipe_.days + 1;
  first_ -= weekdayMonday0(first_);  // start on a Monday
  // The oldest weeks come only from weekly reports (the first fifth of the span).
  dailyStart_ = first_ + (last_ - first_ + 1) / 5;
  dailyStart_ -= weekdayMonday0(dailyStart_);
  {
    const KVRYMD a = KVRYMDFromCivilDay(first_);
    int y = a.year, mo = int(a.month);
    for (;;) {
      const KVRCivilDay b = sundayOnOrBefore(KVRCivilDayFromYMD(y, unsigned(mo), 1));
      const int ny = mo == 12 ? y + 1 : y, nm = mo == 12 ? 1 : mo + 1;
      const KVRCivilDay e = sundayOnOrBefore(KVRCivilDayFromYMD(ny, unsigned(nm), 1)) - 1;
      if (b > last_) break;
      fiscal_.push_back({b, e, y, mo});
      y = ny;
      mo = nm;
    }
  }

  const QString dbPath = QDir(options_.outFolder).filePath(QStringLiteral("Vortely.sqlite"));
  if (QFile::exists(dbPath)) {
    if (error) *error = QStringLiteral("%1 already exists; choose an empty folder.").arg(dbPath);
    return false;
  }
  if (!dm_.openStore(dbPath, error)) return false;

  setUpCountries();
  setUpAccountsAndProducts();
  // The accounts need their database identity for their report folders.
  if (!dm_.save(error)) return false;
  for (Account& a : accounts_) {
    a.financialFolder = KVRVortelyReportsManager::financialReportsSaveFolderForDevName(KVRAccountKey(*a.obj));
    if (a.financialFolder.isEmpty()) {
      if (error) *error = QStringLiteral("Cannot make the report folder of %1.").arg(a.recipe.name);
      return false;
    }
  }
  say(QStringLiteral("%1 accounts, %2 products, %3 countries, days %4 to %5")
          .arg(accounts_.size())
          .arg(products_.size())
          .arg(countries_.size())
          .arg(ymd(first_, "yyyy-MM-dd"), ymd(last_, "yyyy-MM-dd")));

  size_t nextFiscal = 0;
  while (nextFiscal < fiscal_.size() && fiscal_[nextFiscal].end < first_) ++nextFiscal;
  for (KVRCivilDay d = first_; d <= last_; ++d) {
    for (Account& a : accounts_) {
      simulateDay(a, d);
      if (a.recipe.iAd && d >= dailyStart_) adDay(a, d);
      if (weekdayMonday0(d) == 6) flushWeek(a, d);
    }
    if (nextFiscal < fiscal_.size() && fiscal_[nextFiscal].end == d) {
      for (Account& a : accounts_) flushFiscalMonth(a, fiscal_[nextFiscal]);
      ++nextFiscal;
    }
    if ((d - first_) % 365 == 364) say(QStringLiteral("%1 days done").arg(d - first_ + 1));
  }
  if (!fileError_.isEmpty()) {
    if (error) *error = fileError_;
    return false;
  }

  for (Product& p : products_) {
    if (p.firstDay <= p.lastDay) {
      p.obj->firstDate = date(p.firstDay);
      p.obj->lastDate = date(p.lastDay);
      dm_.markChanged(p.obj);  // saved once already, with the accounts
    }
  }
  ratingsCostsPartners();

  KVRSampleDataSummary s;
  s.databasePath = dbPath;
  s.accounts = int(accounts_.size());
  s.products = int(products_.size());
  s.reports = reports_;
  s.financialFiles = files_;
  for (KVRReport* r : dm_.reports()) {
    for (const KVRReportEntry* e : r->entries) {
      ++s.entries;
      s.unitSum += e->count;
      s.incomeSum += int64_t(e->count) * e->income;
    }
  }
  for (KVRVortelyManagedProduct* p : dm_.products()) {
    s.iAdEntries += int64_t(p->iAdEntries.size());
    for (const KVRiAdReportEntry* e : p->iAdEntries) s.adRevenueSum += e->revenue;
    s.ratings += int64_t(p->ratings.size());
  }
  say(QStringLiteral("%1 report lines made in %2 s; saving").arg(s.entries).arg(clock.elapsed() / 1000.0, 0, 'f', 1));
  if (!dm_.save(error)) return false;
  dm_.closeStore();
  if (!writeRatesAndDefaults(error)) return false;
  say(QStringLiteral("done in %1 s").arg(clock.elapsed() / 1000.0, 0, 'f', 1));
  if (summary) *summary = s;
  return true;
}

// Points the support folder at the output folder for the length of a run.
class SupportFolderOverride {
 public:
  explicit SupportFolderOverride(const QString& folder)
      : had_(qEnvironmentVariableIsSet("VORTELY_SUPPORT_FOLDER")), old_(qgetenv("VORTELY_SUPPORT_FOLDER")) {
    qputenv("VORTELY_SUPPORT_FOLDER", QFile::encodeName(folder));
  }
  ~SupportFolderOverride() {
    if (had_) qputenv("VORTELY_SUPPORT_FOLDER", old_);
    else qunsetenv("VORTELY_SUPPORT_FOLDER");
  }

 private:
  bool had_;
  QByteArray old_;
};

}  // namespace

bool KVRParseSampleDataSize(const QString& text, KVRSampleDataSize* size) {
  if (text == QLatin1String("small")) *size = KVRSampleDataSize::Small;
  else if (text == QLatin1String("demo")) *size = KVRSampleDataSize::Demo;
  else if (text == QLatin1String("large")) *size = KVRSampleDataSize::Large;
  else return false;
  return true;
}

bool KVRGenerateSampleData(const KVRSampleDataOptions& options, KVRSampleDataSummary* summary, QString* error,
                           const std::function<void(const QString&)>& progress) {
  if (options.outFolder.isEmpty()) {
    if (error) *error = QStringLiteral("No output folder was given.");
    return false;
  }
  const QString folder = QDir(options.outFolder).absolutePath();
  if (!QDir().mkpath(folder)) {
    if (error) *error = QStringLiteral("Cannot make the folder %1.").arg(folder);
    return false;
  }
  SupportFolderOverride override(folder);
  KVRSampleDataOptions o = options;
  o.outFolder = folder;
  Generator g(o, progress);
  const bool ok = g.run(summary, error);
  if (!ok) KVRVortelyCoreDataManager::sharedInstance().closeStore();
  return ok;
}
