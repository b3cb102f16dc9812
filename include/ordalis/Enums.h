#pragma once
// Enumerations shared by the engine, the caches and the host.
#include <cstdint>

namespace ordalis {

// Outcome of an identification (site, extension, number, tariff) or the
// status of a reference object.
enum Stato : std::int32_t { stDaIndividuare = 0, stIndividuato = 1, stNonIndividuato = 2 };

// Which carrier a cost is computed for.
enum TipoCosto : std::int32_t { tcCosto1 = 0, tcCosto2 = 1, tcCosto3 = 2 };

// How a cache is filled.
enum CacheType : std::int32_t { ctNone = 0, ctPerUse = 1, ctPreload = 2 };

// When counters held by the caches are written back.
enum UpdateType : std::int32_t { utImmediate = 0, utBatch = 1 };

// Whether a phone-book or swing member has unsaved changes.
enum SaveStatus : std::int32_t { ssSaved = 0, ssUnsaved = 1 };

// Kind of database: file database or data source name.
enum TipoDb : std::int32_t { dbAccess = 0, dbSql = 1 };

}  // namespace ordalis
