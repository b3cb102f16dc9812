#pragma once
// RdoEnvironment: user name and password applied to the connections it opens.
#include <memory>
#include <string>

namespace ordalis::rdo {

class RdoConnection;

class RdoEnvironment {
 public:
  explicit RdoEnvironment(std::string name = {}, std::string user = {}, std::string password = {});

  // The component's first environment.
  static RdoEnvironment& Default();

  std::string UserName;
  std::string Password;

  // Opens a data source by name (dsn: "DSN=dsn;"), or by the connect string
  // when given; a DBQ= path (or a dsn that is an existing file) opens SQLite.
  std::unique_ptr<RdoConnection> OpenConnection(const std::string& dsn, bool prompt = false, bool read_only = false,
                                                const std::string& connect = {});
  void Close() noexcept {}

 private:
  std::string name_;
};

// The connect string of a database file (a carrier's tariff file, a
// country's prefix database): "UID=admin;driver={Microsoft Access Driver
// (*.mdb)};DBQ=" + path + ";".
std::string FileConnectString(const std::string& path);

// rdoCreateEnvironment(name, user, password)
std::unique_ptr<RdoEnvironment> rdoCreateEnvironment(const std::string& name, const std::string& user,
                                                     const std::string& password);

}  // namespace ordalis::rdo
