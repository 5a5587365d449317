#pragma once
// The money regions of the financial statement and the per-region amounts of
// one month.
//
// Region rows, in the order every region vector and region row table uses:
//   0 all regions ("All Region"), 1 AU, 2 CA, 3 CH, 4 CN, 5 DK, 6 EU, 7 GB,
//   8 HK, 9 JP, 10 MX, 11 NO, 12 NZ, 13 SE, 14 SG, 15 TW, 16 US, 17 WW
//   (rest of the world, paid in dollars), 18 IAD (ad income).
// Row 0 is a total, never a region: a report, a report line or a payment
// belongs to one of rows 1 to 18 or to none.
#include <QString>
#include <QStringView>
#include <array>

inline constexpr int KVRFinancialRegionCount = 19;

enum KVRFinancialRegionRow : int {
  KVRRegionRowAll = 0,
  KVRRegionRowAU = 1,
  KVRRegionRowCA = 2,
  KVRRegionRowCH = 3,
  KVRRegionRowCN = 4,
  KVRRegionRowDK = 5,
  KVRRegionRowEU = 6,
  KVRRegionRowGB = 7,
  KVRRegionRowHK = 8,
  KVRRegionRowJP = 9,
  KVRRegionRowMX = 10,
  KVRRegionRowNO = 11,
  KVRRegionRowNZ = 12,
  KVRRegionRowSE = 13,
  KVRRegionRowSG = 14,
  KVRRegionRowTW = 15,
  KVRRegionRowUS = 16,
  KVRRegionRowWW = 17,
  KVRRegionRowIAD = 18,
};

// The fixed columns of a region row: its code (as in report file names,
// payment lines and the currency table; empty for row 0), the key of its
// label in the translations and the English label shown without one.
struct KVRFinancialRegion {
  const char* code;
  const char* labelKey;
  const char* english;
};
const std::array<KVRFinancialRegion, KVRFinancialRegionCount>& KVRFinancialRegions();

// The code of a row ("" for row 0 and for an index out of range).
QString KVRFinancialRegionCode(int row);
// The translated label of a row, the English one without translation ("" for
// an index out of range).
QString KVRFinancialRegionLabel(int row);

// The first row whose code equals the text: 0 to 18, the empty text giving 0;
// -1 when no row has it.
int KVRIndexForRegionCode(QStringView code);
// The region of a report, a report line or a payment: rows 1 to 18 only; -1
// for the empty text, row 0's, and any code no row has.
int KVRMoneyRegionForCode(QStringView code);

// One measure of one month for every region row. The 19 named amounts and the
// array are separate storage; the statement and the screens use the array.
class KVRFinancialsByRegion {
 public:
  using Values = std::array<float, KVRFinancialRegionCount>;

  // The 19 amounts by region row, writable in place.
  Values& income() { return income_; }
  const Values& income() const { return income_; }
  void setIncome(const Values& values) { income_ = values; }
  float operator[](int row) const { return income_[size_t(row)]; }

  float incomeUS() const { return incomeUS_; }
  void setIncomeUS(float v) { incomeUS_ = v; }
  float incomeEU() const { return incomeEU_; }
  void setIncomeEU(float v) { incomeEU_ = v; }
  float incomeCA() const { return incomeCA_; }
  void setIncomeCA(float v) { incomeCA_ = v; }
  float incomeJP() const { return incomeJP_; }
  void setIncomeJP(float v) { incomeJP_ = v; }
  float incomeAU() const { return incomeAU_; }
  void setIncomeAU(float v) { incomeAU_ = v; }
  float incomeGB() const { return incomeGB_; }
  void setIncomeGB(float v) { incomeGB_ = v; }
  float incomeWW() const { return incomeWW_; }
  void setIncomeWW(float v) { incomeWW_ = v; }
  float incomeIAD() const { return incomeIAD_; }
  void setIncomeIAD(float v) { incomeIAD_ = v; }
  float incomeAll() const { return incomeAll_; }
  void setIncomeAll(float v) { incomeAll_ = v; }
  float incomeMX() const { return incomeMX_; }
  void setIncomeMX(float v) { incomeMX_ = v; }
  float incomeNO() const { return incomeNO_; }
  void setIncomeNO(float v) { incomeNO_ = v; }
  float incomeNZ() const { return incomeNZ_; }
  void setIncomeNZ(float v) { incomeNZ_ = v; }
  float incomeCH() const { return incomeCH_; }
  void setIncomeCH(float v) { incomeCH_ = v; }
  float incomeCN() const { return incomeCN_; }
  void setIncomeCN(float v) { incomeCN_ = v; }
  float incomeDK() const { return incomeDK_; }
  void setIncomeDK(float v) { incomeDK_ = v; }
  float incomeSE() const { return incomeSE_; }
  void setIncomeSE(float v) { incomeSE_ = v; }

  bool operator==(const KVRFinancialsByRegion&) const = default;

 private:
  float incomeUS_ = 0, incomeEU_ = 0, incomeCA_ = 0, incomeJP_ = 0, incomeAU_ = 0, incomeGB_ = 0,
        incomeWW_ = 0, incomeIAD_ = 0, incomeAll_ = 0, incomeMX_ = 0, incomeNO_ = 0, incomeNZ_ = 0,
        incomeCH_ = 0, incomeCN_ = 0, incomeDK_ = 0, incomeSE_ = 0, incomeSG_ = 0, incomeHK_ = 0,
        incomeTW_ = 0;
  Values income_{};
};
