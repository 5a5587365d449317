#pragma once
// A plain, slow reading of the statement's loops, used to check the builder
// bit for bit: month dates made with the calendar for every report,
// month-date dictionaries, one currency conversion per line, the region of a
// line looked up line by line, the account's estimates in a pass of their
// own, the report look-up as a walk over the report sets. It shares no code
// with the builder's payment walk, its stops, the accounts' summary records
// or the figures: it writes them out from their rules on its own.
#include <string>

#include "financial/KVRFinancialStatement.h"
#include "financial/KVRFinancialStatementBuilder.h"

namespace reference {

KVRFinancialStatement build(const KVRFinancialSelection& selection, KVRDate now);

// Empty when both statements say the same, bit for bit; else what differs first.
std::string difference(const KVRFinancialStatement& a, const KVRFinancialStatement& b);

}  // namespace reference
