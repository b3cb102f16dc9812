#pragma once
// PgCluster: a private PostgreSQL 15 server for tests, reached through
// psqlODBC. Any test program can use it: add PgCluster.cpp to its sources.
//
// The first Instance() call starts the server on a free loopback port in a
// temporary directory (as the `postgres` user when the test runs as root:
// the server refuses root), registers the ODBC driver and a data source in
// ini files of its own (ODBCSYSINI/ODBCINI, set before any ODBC call of the
// process), and creates the login role User() with password Password().
// A freshly initialised data directory is kept as a template under the
// temporary directory and copied for later clusters, so each test program
// starts in well under a second. The server stops at Stop() or at exit.
#include <string>

namespace ordalis::testing {

class PgCluster {
 public:
  // The running cluster; throws std::runtime_error (with initdb/pg_ctl output)
  // when it cannot start.
  static PgCluster& Instance();
  // Stops the cluster when one was started by this process; harmless
  // otherwise, and on repeated calls.
  static void StopIfStarted() noexcept;

  static constexpr const char* kDsn = "ordalis_pg";
  static constexpr const char* kUser = "ordalis";
  static constexpr const char* kPassword = "ordalis pw";

  int port() const { return port_; }
  // A new empty database owned by the login role; returns its name.
  std::string CreateDatabase();
  // ODBC connect string for a database through the registered DSN, with the
  // login role and its password.
  std::string ConnectString(const std::string& database) const;
  // Runs SQL as the superuser with psql; throws std::runtime_error on failure.
  void Psql(const std::string& sql, const std::string& database = "postgres") const;
  // The psql command line (without -c) for a database, as the login role
  // (for tests that hold a session open through a pipe).
  std::string PsqlCommand(const std::string& database) const;

  void Stop() noexcept;
  ~PgCluster();

 private:
  PgCluster();
  void Start();

  std::string dir_;
  int port_ = 0;
  bool running_ = false;
  int databases_ = 0;
};

}  // namespace ordalis::testing
