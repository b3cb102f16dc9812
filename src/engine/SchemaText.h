#pragma once
// The DDL of an empty engine database and of an empty carrier tariff file
// (SQLite forms), and of the engine database on PostgreSQL, as shipped in
// sql/.

namespace ordalis {
extern const char* const kEngineSchemaSql;
extern const char* const kEnginePostgresSchemaSql;
extern const char* const kCarrierSchemaSql;
}  // namespace ordalis
