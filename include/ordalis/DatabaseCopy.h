#pragma once
// Moving an installation's engine database between an SQLite file and a
// database server.
#include <functional>
#include <string>
#include <vector>

namespace ordalis {

// Rows copied so far, of all the rows to copy.
using CopyProgress = std::function<void(long copied, long total)>;

struct CopyResult {
  long rows = 0;
  std::vector<std::string> tables_created;  // in the target, from the schema
};

// Copies the rows of every engine table from the database `from` to the
// database `to` (connect strings as the engine's data access takes them:
// one with DBQ=<file> opens an SQLite file, any other an ODBC data source).
// A table missing in the target is created from the shipped schema of the
// target's kind (the SQLite form for a file, the PostgreSQL form for a
// server), with its indexes; a table missing in the source is left alone.
// Rows are written in the target's write batches; counters of generated
// keys are moved past the copied keys. Nothing is copied when a target
// table already holds rows: the error names the tables. Throws
// ComponentError (the failing table and the database's message).
CopyResult CopyEngineDatabase(const std::string& from, const std::string& to, const CopyProgress& progress = {});

}  // namespace ordalis
