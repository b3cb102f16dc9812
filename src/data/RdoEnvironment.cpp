#include "data/RdoEnvironment.h"

#include <sys/stat.h>

#include "data/RdoConnection.h"
#include "data/SqlText.h"

namespace ordalis::rdo {

RdoEnvironment::RdoEnvironment(std::string name, std::string user, std::string password)
    : UserName(std::move(user)), Password(std::move(password)), name_(std::move(name)) {}

RdoEnvironment& RdoEnvironment::Default() {
  static RdoEnvironment environment;
  return environment;
}

std::unique_ptr<RdoConnection> RdoEnvironment::OpenConnection(const std::string& dsn, bool prompt, bool read_only,
                                                              const std::string& connect) {
  auto connection = std::make_unique<RdoConnection>();
  if (!connect.empty()) {
    connection->SetConnect(connect);
  } else {
    struct stat st {};
    bool is_file = !dsn.empty() && ::stat(dsn.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (is_file)
      connection->SetConnect("DBQ=" + dsn + ";");
    else if (dsn.find('=') != std::string::npos)
      connection->SetConnect(dsn);
    else
      connection->SetConnect("DSN=" + dsn + ";");
  }
  connection->EstablishConnection(UserName, Password);
  return connection;
}

std::unique_ptr<RdoEnvironment> rdoCreateEnvironment(const std::string& name, const std::string& user,
                                                     const std::string& password) {
  return std::make_unique<RdoEnvironment>(name, user, password);
}

std::string FileConnectString(const std::string& path) {
  return "UID=admin;driver={Microsoft Access Driver (*.mdb)};DBQ=" + path + ";";
}

}  // namespace ordalis::rdo
