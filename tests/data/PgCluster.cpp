#include "PgCluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glob.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace ordalis::testing {
namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";

bool IsRoot() { return ::geteuid() == 0; }

std::string TempRoot() {
  const char* t = std::getenv("TMPDIR");
  return (t && *t) ? t : "/tmp";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a shell command, its output into log; throws with the log on failure.
void Run(const std::string& command, const std::string& log) {
  std::string line = command + " >" + log + " 2>&1 </dev/null";
  int rc = std::system(line.c_str());
  if (rc != 0) throw std::runtime_error("command failed (" + std::to_string(rc) + "): " + command + "\n" + ReadFile(log));
}

// The command as the server's owner: `postgres` when running as root.
std::string AsOwner(const std::string& command) { return IsRoot() ? "runuser -u postgres -- " + command : command; }

void GiveToOwner(const std::string& path) {
  if (!IsRoot()) return;
  passwd* pw = ::getpwnam("postgres");
  if (!pw) throw std::runtime_error("running as root but there is no postgres user to run the server");
  if (::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("cannot chown " + path);
}

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = TempRoot() + "/" + prefix + "XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  GiveToOwner(pattern);
  return pattern;
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

std::string StartCommand(const std::string& data, const std::string& dir, int port) {
  return AsOwner(kBin + "pg_ctl -D " + data + " -l " + dir + "/server.log -w -t 60 -o '-p " + std::to_string(port) +
                 " -k " + dir + " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" +
                 " -c full_page_writes=off -c max_connections=40 -c shared_buffers=16MB' start");
}

std::string StopCommand(const std::string& data) { return AsOwner(kBin + "pg_ctl -D " + data + " -m fast -w stop"); }

std::string PsqlAs(const std::string& user, int port, const std::string& database) {
  return kBin + "psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " + std::to_string(port) + " -U " + user + " -d " +
         database;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// The initialised data directory copied for each cluster, made once.
std::string Template() {
  std::string base = TempRoot() + "/ordalis-pg15-template";
  std::string lock_path = base + ".lock";
  int lock = ::open(lock_path.c_str(), O_CREAT | O_RDWR, 0666);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + lock_path);
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};
  if (::access((base + "/data/PG_VERSION").c_str(), F_OK) == 0) return base;

  std::string work = MakeTempDir("ordalis-pgtpl-");
  std::string data = work + "/data";
  Run(AsOwner(kBin + "initdb -D " + data + " -U postgres -A trust -E UTF8 --locale=C.UTF-8 --no-sync"),
      work + "/initdb.log");
  {
    std::ofstream hba(data + "/pg_hba.conf", std::ios::trunc);
    hba << "local all all trust\n"
           "host all postgres 127.0.0.1/32 trust\n"
           "host all all 127.0.0.1/32 scram-sha-256\n";
  }
  int port = FreePort();
  Run(StartCommand(data, work, port), work + "/start.log");
  try {
    Run(PsqlAs("postgres", port, "postgres") + " -c " +
            ShellQuote(std::string("CREATE ROLE ") + PgCluster::kUser + " LOGIN CREATEDB PASSWORD '" +
                       PgCluster::kPassword + "'"),
        work + "/role.log");
  } catch (...) {
    std::system((StopCommand(data) + " >/dev/null 2>&1").c_str());
    throw;
  }
  Run(StopCommand(data), work + "/stop.log");
  if (::rename(work.c_str(), base.c_str()) != 0) throw std::runtime_error("cannot move the template to " + base);
  return base;
}

std::string DriverPath() {
  glob_t g{};
  std::string found;
  if (::glob("/usr/lib/*/odbc/psqlodbcw.so", 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
  ::globfree(&g);
  if (found.empty() && ::access("/usr/lib/odbc/psqlodbcw.so", F_OK) == 0) found = "/usr/lib/odbc/psqlodbcw.so";
  if (found.empty()) throw std::runtime_error("psqlODBC (psqlodbcw.so) is not installed");
  return found;
}

std::unique_ptr<PgCluster> g_cluster;

}  // namespace

PgCluster::PgCluster() = default;
PgCluster::~PgCluster() { Stop(); }

PgCluster& PgCluster::Instance() {
  if (!g_cluster) {
    std::unique_ptr<PgCluster> cluster(new PgCluster());
    cluster->Start();
    g_cluster = std::move(cluster);
    std::atexit(&PgCluster::StopIfStarted);
  }
  return *g_cluster;
}

void PgCluster::StopIfStarted() noexcept {
  if (g_cluster) g_cluster->Stop();
}

void PgCluster::Start() {
  std::string base = Template();
  dir_ = MakeTempDir("ordalis-pg-");
  std::string data = dir_ + "/data";
  Run("cp -a " + base + "/data " + data, dir_ + "/copy.log");
  std::string error;
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
    port_ = FreePort();
    try {
      Run(StartCommand(data, dir_, port_), dir_ + "/start.log");
      running_ = true;
    } catch (const std::exception& e) {
      error = e.what() + ReadFile(dir_ + "/server.log");
    }
  }
  if (!running_) {
    Stop();
    throw std::runtime_error("PostgreSQL did not start: " + error);
  }

  std::ofstream inst(dir_ + "/odbcinst.ini", std::ios::trunc);
  inst << "[PostgreSQL Unicode]\nDriver=" << DriverPath() << "\nUsageCount=1\n";
  inst.close();
  std::ofstream ini(dir_ + "/odbc.ini", std::ios::trunc);
  ini << "[" << kDsn << "]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << port_
      << "\nDatabase=postgres\nBoolsAsChar=0\nUseDeclareFetch=0\n";
  ini.close();
  ::setenv("ODBCSYSINI", dir_.c_str(), 1);
  ::setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
}

std::string PgCluster::CreateDatabase() {
  std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++databases_);
  Psql("CREATE DATABASE " + name + " OWNER " + kUser);
  return name;
}

std::string PgCluster::ConnectString(const std::string& database) const {
  return std::string("DSN=") + kDsn + ";Database=" + database + ";UID=" + kUser + ";PWD={" + kPassword + "};";
}

void PgCluster::Psql(const std::string& sql, const std::string& database) const {
  Run(PsqlAs("postgres", port_, database) + " -c " + ShellQuote(sql), dir_ + "/psql.log");
}

std::string PgCluster::PsqlCommand(const std::string& database) const {
  return "PGPASSWORD=" + ShellQuote(kPassword) + " " + PsqlAs(kUser, port_, database);
}

void PgCluster::Stop() noexcept {
  if (dir_.empty()) return;
  if (running_) std::system((StopCommand(dir_ + "/data") + " >/dev/null 2>&1").c_str());
  running_ = false;
  std::system(("rm -rf " + dir_).c_str());
  dir_.clear();
}

}  // namespace ordalis::testing
