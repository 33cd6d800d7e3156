#pragma once
// The fuzzy index's counts of questions per trigram are rebuilt after the
// questions change, in a transaction of their own. A mark committed with
// every change to the questions and cleared with the rebuild tells whether
// an import stopped in between, so that the counts never stay behind.
#include <cstdint>

#include "Database.h"

namespace kelvora {

// Within the caller's transaction: the counts are behind, and this process is
// the one bringing them up to date.
bool MarkTrigramCountsStale(Connection& db);

// The process id that marked the counts stale, 0 when they are current.
int64_t TrigramCountsStaleOwner(Connection& db);

// Whether the process that marked the counts stale has ended without
// rebuilding them (on this machine), or marked them over an hour ago.
bool TrigramCountsAbandoned(Connection& db, int64_t now);

// On PostgreSQL, where servers match on copies of the bank in memory: the
// bank's version, raised within every transaction that changes questions
// (-1 when it cannot be read).
bool BumpBankVersion(Connection& db);
int64_t BankVersion(Connection& db);

// Recounts and clears the mark in one transaction of its own.
bool RebuildTrigramCounts(Connection& db);

} // namespace kelvora
