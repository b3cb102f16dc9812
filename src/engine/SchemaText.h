#pragma once
// The DDL of an empty engine database and of an empty carrier tariff file
// (SQLite forms), as shipped in sql/.

namespace ordalis {
extern const char* const kEngineSchemaSql;
extern const char* const kCarrierSchemaSql;
}  // namespace ordalis
