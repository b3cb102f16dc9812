#pragma once
// Appending call records exported by telephone exchanges to the engine's
// call tables: a documented CSV layout, Asterisk's cdr_csv Master.csv and
// FreeSWITCH's cdr_csv default template. Calls between two extensions go to
// CHIAMATEINTERNE, the others to CHIAMATE, unrated.
//
// Each imported row carries an identity (site, extension, number, start,
// duration and, where the exchange gives one, its unique call id) kept
// unique in column sIdImport of both tables, so importing a file again adds
// nothing twice. The column and its unique index are added to an older
// database on first use. Needs SQLite or PostgreSQL (INSERT ... ON CONFLICT).
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "ordalis/Export.h"

namespace ordalis {

enum class ImportFormat { Csv, Asterisk, FreeSwitch };

struct ImportOptions {
  ImportFormat format = ImportFormat::Csv;
  // The site code of the calls: every Asterisk and FreeSWITCH row, and CSV
  // rows whose site column is empty or missing.
  std::string site;
  // Which numbers are extensions of the site (an ECMAScript regular
  // expression matched against the whole number). Decides whether an
  // Asterisk or FreeSWITCH call is outgoing, incoming or internal.
  std::string extension_pattern = "[0-9]{2,5}";
  // Stop at the first bad row instead of skipping it.
  bool strict = false;
};

// A row that was not imported, and why.
struct ImportProblem {
  std::string file;
  std::int64_t line = 0;  // where the row starts, from 1
  std::string reason;
};

struct ImportCounts {
  std::int64_t rows = 0;        // call rows read (headers not counted)
  std::int64_t added = 0;       // appended to CHIAMATE
  std::int64_t added_internal = 0;  // appended to CHIAMATEINTERNE
  std::int64_t duplicates = 0;  // already in the database
  std::int64_t rejected = 0;    // bad rows
};

class ORDALIS_API CallImporter {
 public:
  // Opens the engine database: a connect string with DBQ=<file> for an
  // SQLite file, any other for ODBC; adds the identity column and index
  // when missing. Throws ComponentError when the database cannot be opened
  // or has no call tables, and error 5 for a bad extension pattern.
  CallImporter(const std::string& connect, ImportOptions options);
  ~CallImporter();  // commits what was appended
  CallImporter(const CallImporter&) = delete;
  CallImporter& operator=(const CallImporter&) = delete;

  // Called for every bad row as it is met (by default nothing happens).
  void OnProblem(std::function<void(const ImportProblem&)> handler);

  // Reads the rows of a file one at a time and appends its calls. Returns
  // false when a bad row stopped a strict import (the rows before it stay
  // appended) or when a CSV file's header is not the documented one.
  // Throws ComponentError when the file cannot be read or a write fails.
  bool ImportFile(const std::string& path);
  // The same from a stream; `name` names it in the problems.
  bool Import(std::istream& in, const std::string& name);
  // Commits what was appended so far.
  void Commit();

  const ImportCounts& Counts() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ordalis
