#include "catalogue/KVRVortelyStoreDataSource.h"

#include <algorithm>

#include "catalogue/KVRVortelyCurrencyConverter.h"

namespace {

struct CountrySeed {
  const char* code;        // upper-case ISO 3166 code
  const char* label;       // English name
  const char* storefront;  // storefront identifier
  const char* region;      // money region
};

// The store's countries. Euro-area countries are paid in the EU region; the
// countries without a money region of their own are paid in US dollars (WW).
constexpr CountrySeed kCountries[] = {
    {"AL", "Albania", "143575", "WW"},
    {"DZ", "Algeria", "143563", "WW"},
    {"AO", "Angola", "143564", "WW"},
    {"AI", "Anguilla", "143538", "WW"},
    {"AG", "Antigua and Barbuda", "143540", "WW"},
    {"AR", "Argentina", "143505", "WW"},
    {"AM", "Armenia", "143524", "WW"},
    {"AU", "Australia", "143460", "AU"},
    {"AT", "Austria", "143445", "EU"},
    {"AZ", "Azerbaijan", "143568", "WW"},
    {"BS", "Bahamas", "143539", "WW"},
    {"BH", "Bahrain", "143559", "WW"},
    {"BB", "Barbados", "143541", "WW"},
    {"BY", "Belarus", "143565", "WW"},
    {"BE", "Belgium", "143446", "EU"},
    {"BZ", "Belize", "143555", "WW"},
    {"BJ", "Benin", "143576", "WW"},
    {"BM", "Bermuda", "143542", "WW"},
    {"BT", "Bhutan", "143577", "WW"},
    {"BO", "Bolivia", "143556", "WW"},
    {"BW", "Botswana", "143525", "WW"},
    {"BR", "Brazil", "143503", "WW"},
    {"VG", "British Virgin Islands", "143543", "WW"},
    {"BN", "Brunei", "143560", "WW"},
    {"BG", "Bulgaria", "143526", "WW"},
    {"BF", "Burkina Faso", "143578", "WW"},
    {"KH", "Cambodia", "143579", "WW"},
    {"CA", "Canada", "143455", "CA"},
    {"CV", "Cape Verde", "143580", "WW"},
    {"KY", "Cayman Islands", "143544", "WW"},
    {"TD", "Chad", "143581", "WW"},
    {"CL", "Chile", "143483", "WW"},
    {"CN", "China", "143465", "CN"},
    {"CO", "Colombia", "143501", "WW"},
    {"CG", "Congo", "143582", "WW"},
    {"CR", "Costa Rica", "143495", "WW"},
    {"HR", "Croatia", "143494", "WW"},
    {"CY", "Cyprus", "143557", "EU"},
    {"CZ", "Czech Republic", "143489", "WW"},
    {"DK", "Denmark", "143458", "DK"},
    {"DM", "Dominica", "143545", "WW"},
    {"DO", "Dominican Republic", "143508", "WW"},
    {"EC", "Ecuador", "143509", "WW"},
    {"EG", "Egypt", "143516", "WW"},
    {"SV", "El Salvador", "143506", "WW"},
    {"EE", "Estonia", "143518", "EU"},
    {"FJ", "Fiji", "143583", "WW"},
    {"FI", "Finland", "143447", "EU"},
    {"FR", "France", "143442", "EU"},
    {"GM", "Gambia", "143584", "WW"},
    {"DE", "Germany", "143443", "EU"},
    {"GH", "Ghana", "143573", "WW"},
    {"GR", "Greece", "143448", "EU"},
    {"GD", "Grenada", "143546", "WW"},
    {"GT", "Guatemala", "143504", "WW"},
    {"GW", "Guinea-Bissau", "143585", "WW"},
    {"GY", "Guyana", "143553", "WW"},
    {"HN", "Honduras", "143510", "WW"},
    {"HK", "Hong Kong", "143463", "HK"},
    {"HU", "Hungary", "143482", "WW"},
    {"IS", "Iceland", "143558", "WW"},
    {"IN", "India", "143467", "WW"},
    {"ID", "Indonesia", "143476", "WW"},
    {"IE", "Ireland", "143449", "EU"},
    {"IL", "Israel", "143491", "WW"},
    {"IT", "Italy", "143450", "EU"},
    {"JM", "Jamaica", "143511", "WW"},
    {"JP", "Japan", "143462", "JP"},
    {"JO", "Jordan", "143528", "WW"},
    {"KZ", "Kazakhstan", "143517", "WW"},
    {"KE", "Kenya", "143529", "WW"},
    {"KR", "Korea, Republic of", "143466", "WW"},
    {"KW", "Kuwait", "143493", "WW"},
    {"KG", "Kyrgyzstan", "143586", "WW"},
    {"LA", "Laos", "143587", "WW"},
    {"LV", "Latvia", "143519", "EU"},
    {"LB", "Lebanon", "143497", "WW"},
    {"LR", "Liberia", "143588", "WW"},
    {"LT", "Lithuania", "143520", "EU"},
    {"LU", "Luxembourg", "143451", "EU"},
    {"MO", "Macau", "143515", "WW"},
    {"MK", "Macedonia", "143530", "WW"},
    {"MG", "Madagascar", "143531", "WW"},
    {"MW", "Malawi", "143589", "WW"},
    {"MY", "Malaysia", "143473", "WW"},
    {"ML", "Mali", "143532", "WW"},
    {"MT", "Malta", "143521", "EU"},
    {"MR", "Mauritania", "143590", "WW"},
    {"MU", "Mauritius", "143533", "WW"},
    {"MX", "Mexico", "143468", "MX"},
    {"FM", "Micronesia", "143591", "WW"},
    {"MD", "Moldova", "143523", "WW"},
    {"MN", "Mongolia", "143592", "WW"},
    {"MS", "Montserrat", "143547", "WW"},
    {"MZ", "Mozambique", "143593", "WW"},
    {"NA", "Namibia", "143594", "WW"},
    {"NP", "Nepal", "143484", "WW"},
    {"NL", "Netherlands", "143452", "EU"},
    {"NZ", "New Zealand", "143461", "NZ"},
    {"NI", "Nicaragua", "143512", "WW"},
    {"NE", "Niger", "143534", "WW"},
    {"NG", "Nigeria", "143561", "WW"},
    {"NO", "Norway", "143457", "NO"},
    {"OM", "Oman", "143562", "WW"},
    {"PK", "Pakistan", "143477", "WW"},
    {"PW", "Palau", "143595", "WW"},
    {"PA", "Panama", "143485", "WW"},
    {"PG", "Papua New Guinea", "143597", "WW"},
    {"PY", "Paraguay", "143513", "WW"},
    {"PE", "Peru", "143507", "WW"},
    {"PH", "Philippines", "143474", "WW"},
    {"PL", "Poland", "143478", "WW"},
    {"PT", "Portugal", "143453", "EU"},
    {"QA", "Qatar", "143498", "WW"},
    {"RO", "Romania", "143487", "WW"},
    {"RU", "Russia", "143469", "WW"},
    {"ST", "Sao Tome and Principe", "143598", "WW"},
    {"SA", "Saudi Arabia", "143479", "WW"},
    {"SN", "Senegal", "143535", "WW"},
    {"SC", "Seychelles", "143599", "WW"},
    {"SL", "Sierra Leone", "143600", "WW"},
    {"SG", "Singapore", "143464", "SG"},
    {"SK", "Slovakia", "143496", "EU"},
    {"SI", "Slovenia", "143499", "EU"},
    {"SB", "Solomon Islands", "143601", "WW"},
    {"ZA", "South Africa", "143472", "WW"},
    {"ES", "Spain", "143454", "EU"},
    {"LK", "Sri Lanka", "143486", "WW"},
    {"KN", "St. Kitts and Nevis", "143548", "WW"},
    {"LC", "St. Lucia", "143549", "WW"},
    {"VC", "St. Vincent and the Grenadines", "143550", "WW"},
    {"SR", "Suriname", "143554", "WW"},
    {"SZ", "Swaziland", "143602", "WW"},
    {"SE", "Sweden", "143456", "SE"},
    {"CH", "Switzerland", "143459", "CH"},
    {"TW", "Taiwan", "143470", "TW"},
    {"TJ", "Tajikistan", "143603", "WW"},
    {"TZ", "Tanzania", "143572", "WW"},
    {"TH", "Thailand", "143475", "WW"},
    {"TT", "Trinidad and Tobago", "143551", "WW"},
    {"TN", "Tunisia", "143536", "WW"},
    {"TR", "Turkey", "143480", "WW"},
    {"TM", "Turkmenistan", "143604", "WW"},
    {"TC", "Turks and Caicos Islands", "143552", "WW"},
    {"UG", "Uganda", "143537", "WW"},
    {"UA", "Ukraine", "143492", "WW"},
    {"AE", "United Arab Emirates", "143481", "WW"},
    {"GB", "United Kingdom", "143444", "GB"},
    {"US", "United States", "143441", "US"},
    {"UY", "Uruguay", "143514", "WW"},
    {"UZ", "Uzbekistan", "143566", "WW"},
    {"VE", "Venezuela", "143502", "WW"},
    {"VN", "Vietnam", "143471", "WW"},
    {"YE", "Yemen", "143571", "WW"},
    {"ZW", "Zimbabwe", "143605", "WW"},
};

struct CategorySeed {
  const char* label;
  int id;
  bool mac;
};

constexpr CategorySeed kCategories[] = {
    // iOS store
    {"Business", 6000, false},
    {"Weather", 6001, false},
    {"Utilities", 6002, false},
    {"Travel", 6003, false},
    {"Sports", 6004, false},
    {"Social Networking", 6005, false},
    {"Reference", 6006, false},
    {"Productivity", 6007, false},
    {"Photo & Video", 6008, false},
    {"News", 6009, false},
    {"Navigation", 6010, false},
    {"Music", 6011, false},
    {"Lifestyle", 6012, false},
    {"Health & Fitness", 6013, false},
    {"Games", 6014, false},
    {"Finance", 6015, false},
    {"Entertainment", 6016, false},
    {"Education", 6017, false},
    {"Books", 6018, false},
    {"Medical", 6020, false},
    {"Newsstand", 6021, false},
    {"Catalogs", 6022, false},
    {"Food & Drink", 6023, false},
    // Mac store
    {"Business", 12001, true},
    {"Developer Tools", 12002, true},
    {"Education", 12003, true},
    {"Entertainment", 12004, true},
    {"Finance", 12005, true},
    {"Games", 12006, true},
    {"Health & Fitness", 12007, true},
    {"Lifestyle", 12008, true},
    {"Medical", 12010, true},
    {"Music", 12011, true},
    {"News", 12012, true},
    {"Photography", 12013, true},
    {"Productivity", 12014, true},
    {"Reference", 12015, true},
    {"Social Networking", 12016, true},
    {"Sports", 12017, true},
    {"Travel", 12018, true},
    {"Utilities", 12019, true},
    {"Video", 12020, true},
    {"Weather", 12021, true},
    {"Graphics & Design", 12022, true},
    // Product kinds without a chart of their own
    {"In-App Purchase", 0, false},
    {"E-Book", 0, false},
};

}  // namespace

const std::vector<KVRCountryRow>& KVRVortelyStoreDataSource::countries() {
  static const std::vector<KVRCountryRow> rows = [] {
    std::vector<KVRCountryRow> out;
    out.reserve(std::size(kCountries));
    for (const CountrySeed& s : kCountries) {
      KVRCountryRow r;
      r.Label = QString::fromUtf8(s.label);
      r.Value = QString::fromLatin1(s.storefront);
      r.ShortDesc = QString::fromLatin1(s.code).toLower();
      r.Region = QString::fromLatin1(s.region);
      r.CurrencyFormat = KVRVortelyCurrencyConverter::currencyValueForCurrencyRegion(r.Region);
      r.iAdLabel = r.Label;
      out.push_back(std::move(r));
    }
    return out;
  }();
  return rows;
}

const std::vector<KVRCategoryRow>& KVRVortelyStoreDataSource::categories() {
  static const std::vector<KVRCategoryRow> rows = [] {
    std::vector<KVRCategoryRow> out;
    out.reserve(std::size(kCategories));
    for (const CategorySeed& s : kCategories)
      out.push_back({QString::fromUtf8(s.label), s.id, s.mac});
    return out;
  }();
  return rows;
}

QString KVRVortelyStoreDataSource::countryLabelForShortDesc(const QString& lowerCaseCode) {
  for (const KVRCountryRow& r : countries())
    if (r.ShortDesc == lowerCaseCode) return r.Label;
  return QString();
}

const KVRCountryRow* KVRVortelyStoreDataSource::countryForCode(const QString& code) {
  if (code.size() != 2) return nullptr;
  const QString lower = code.toLower();
  for (const KVRCountryRow& r : countries())
    if (r.ShortDesc == lower) return &r;
  return nullptr;
}

const KVRCountryRow* KVRVortelyStoreDataSource::countryForStorefront(const QString& storefront) {
  if (storefront.isEmpty()) return nullptr;
  for (const KVRCountryRow& r : countries())
    if (r.Value == storefront) return &r;
  return nullptr;
}

QString KVRVortelyStoreDataSource::regionForCountryCode(const QString& code) {
  const KVRCountryRow* row = countryForCode(code.trimmed());
  return row ? row->Region : QStringLiteral("WW");
}

int KVRVortelyStoreDataSource::categoryIDForRankingFromCategoryLabel(const QString& label) {
  for (const KVRCategoryRow& r : categories())
    if (r.Label == label) return r.Value;
  return 0;
}

int KVRVortelyStoreDataSource::categoryIDForRankingFromCategoryLabel(const QString& label,
                                                                     bool mac) {
  for (const KVRCategoryRow& r : categories())
    if (r.mac == mac && r.Label == label) return r.Value;
  return categoryIDForRankingFromCategoryLabel(label);
}
