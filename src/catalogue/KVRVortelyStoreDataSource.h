#pragma once
// The built-in store catalogue: the store's countries with their storefront
// identifiers and money regions, and the store categories with the genre ids
// used for rankings. The tables are built once and never change; every look-up
// answers from memory and may be called from any thread.
#include <QString>
#include <vector>

// One store country.
struct KVRCountryRow {
  QString Label;           // English country name
  QString Value;           // storefront identifier, e.g. "143441"
  QString ShortDesc;       // lower-case two-letter ISO 3166 code
  QString Region;          // money region: "US", "EU", "GB", ... "WW" for the rest
  QString CurrencyFormat;  // ISO 4217 code of the currency the region is paid in
  QString iAdLabel;        // the country's name as the ad reports write it
};

// One store category; Value is the ranking genre id (0 for the product kinds
// that have no chart: in-app purchases and e-books).
struct KVRCategoryRow {
  QString Label;
  int Value;
  bool mac;  // a category of the Mac store (ids 12000 and above)
};

class KVRVortelyStoreDataSource {
 public:
  // Ordered by English label.
  static const std::vector<KVRCountryRow>& countries();
  // iOS store categories first, then the Mac store's, then the chartless kinds.
  static const std::vector<KVRCategoryRow>& categories();

  // The Label of the row whose ShortDesc equals the code (lower case); null when none.
  static QString countryLabelForShortDesc(const QString& lowerCaseCode);
  // The row of a two-letter code in any case; nullptr when none.
  static const KVRCountryRow* countryForCode(const QString& code);
  // The row of a storefront identifier; nullptr when none.
  static const KVRCountryRow* countryForStorefront(const QString& storefront);
  // The money region of a two-letter code in any case; "WW" for an unknown code.
  static QString regionForCountryCode(const QString& code);

  // The ranking genre id of a category label: the first row with that label,
  // so a label both stores share gives the iOS id. 0 when unknown.
  static int categoryIDForRankingFromCategoryLabel(const QString& label);
  // The same, preferring the Mac store's row when `mac` is set.
  static int categoryIDForRankingFromCategoryLabel(const QString& label, bool mac);
};
