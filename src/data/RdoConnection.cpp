#include "data/RdoConnection.h"

#include "data/Backend.h"
#include "data/Cursor.h"
#include "data/RdoQuery.h"
#include "data/RdoResultset.h"
#include "data/SqlText.h"
#include "data/odbc/OdbcBackend.h"
#include "data/sqlite/SqliteBackend.h"

namespace ordalis::rdo {
namespace {

// The connect string without its UID/PWD pairs, then the given ones.
std::string WithCredentials(const std::string& connect, const std::string& user, const std::string& password) {
  std::string out;
  std::size_t pos = 0;
  while (pos < connect.size()) {
    std::size_t end = connect.find(';', pos);
    if (end == std::string::npos) end = connect.size();
    std::string part = connect.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    std::string key = eq == std::string::npos ? part : part.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    NoCaseEqual eq_nc;
    bool credential = eq_nc(key, "UID") || eq_nc(key, "PWD");
    if (!credential && !part.empty()) out += part + ';';
    pos = end + 1;
  }
  if (!user.empty()) out += "UID=" + user + ';';
  if (!password.empty()) out += "PWD={" + password + "};";
  return out;
}

}  // namespace

RdoConnection::RdoConnection() = default;
RdoConnection::~RdoConnection() { Close(); }

void RdoConnection::SetQueryTimeout(int seconds) {
  query_timeout_ = seconds < 0 ? 0 : seconds;
  if (backend_) backend_->SetQueryTimeout(query_timeout_);
}

void RdoConnection::SetTuning(int which, long value) {
  if (which < 0 || which >= 3) ThrowDataError("Invalid connection setting " + std::to_string(which));
  tuning_[which] = value;
}

long RdoConnection::Tuning(int which) const {
  if (which < 0 || which >= 3) ThrowDataError("Invalid connection setting " + std::to_string(which));
  return tuning_[which];
}

void RdoConnection::EstablishConnection(bool /*prompt*/, bool /*read_only*/) { EstablishConnection(std::string(), std::string()); }

void RdoConnection::EstablishConnection(const std::string& user, const std::string& password) {
  if (backend_) ThrowDataError("The connection is already open");
  if (auto path = ConnectValue(connect_, "DBQ")) {
    backend_ = OpenSqliteBackend(*path, query_timeout_);
  } else {
    std::string connect = (user.empty() && password.empty()) ? connect_ : WithCredentials(connect_, user, password);
    backend_ = OpenOdbcBackend(connect, query_timeout_);
  }
  if (commits_held_) backend_->HoldCommits(true);
  if (commit_on_flush_) backend_->CommitOnFlush(true);
}

bool RdoConnection::IsOpen() const { return backend_ != nullptr; }

Backend& RdoConnection::backend() {
  if (!backend_) ThrowDataError("The connection is not open");
  return *backend_;
}

std::unique_ptr<RdoResultset> RdoConnection::OpenResultset(std::string_view sql, CursorType cursor, LockType lock) {
  return std::make_unique<RdoResultset>(backend().Open(sql, cursor, lock));
}

std::unique_ptr<RdoResultset> RdoConnection::OpenResultset(std::string_view sql,
                                                           const std::vector<std::string_view>& values,
                                                           CursorType cursor, LockType lock) {
  return std::make_unique<RdoResultset>(backend().OpenWith(sql, values, cursor, lock));
}

long RdoConnection::Execute(std::string_view sql) { return backend().Execute(sql); }

long RdoConnection::ExecuteWith(std::string_view sql, const std::vector<Variant>& values) {
  return backend().ExecuteWith(sql, values);
}

std::unique_ptr<RdoQuery> RdoConnection::CreateQuery(std::string_view /*name*/, std::string_view sql) {
  backend();
  return std::make_unique<RdoQuery>(*this, std::string(sql));
}

bool RdoConnection::ColumnExists(std::string_view table, std::string_view column) {
  return backend().ColumnExists(table, column);
}

bool RdoConnection::TableExists(std::string_view table) { return backend().TableExists(table); }

bool RdoConnection::IsFileDatabase() const { return backend_ && backend_->IsFileDatabase(); }

std::optional<std::uint64_t> RdoConnection::TableStamp(std::string_view table) {
  return backend_ ? backend_->TableStamp(table) : std::nullopt;
}

void RdoConnection::Flush() {
  if (backend_) backend_->Flush();
}

void RdoConnection::BeginUnit() {
  if (backend_) backend_->BeginUnit();
}

void RdoConnection::EndUnit(bool keep) {
  if (backend_) backend_->EndUnit(keep);
}

void RdoConnection::LastWriteOfUnit() {
  if (backend_) backend_->LastWriteOfUnit();
}

void RdoConnection::ShareRows(bool shared) {
  if (backend_) backend_->ShareRows(shared);
}

void RdoConnection::TakeTurn() {
  if (backend_) backend_->TakeTurn();
}

bool RdoConnection::UnitsPending() const { return backend_ && backend_->UnitsPending(); }

bool RdoConnection::CommitOnFlush(bool on) {
  commit_on_flush_ = on && backend_ && backend_->CommitOnFlush(true);
  if (!commit_on_flush_ && backend_) backend_->CommitOnFlush(false);
  return commit_on_flush_;
}

bool RdoConnection::CommitDue() const { return backend_ && backend_->CommitDue(); }

void RdoConnection::HoldCommits(bool hold) noexcept {
  commits_held_ = hold;
  if (backend_) backend_->HoldCommits(hold);
}

void RdoConnection::Close() noexcept {
  if (!backend_) return;
  backend_->Close();
  backend_.reset();
}

}  // namespace ordalis::rdo
