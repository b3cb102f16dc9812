// The engine object: creation, Init, the connection, the mirror properties
// and the small members.
#include "ordalis/clsChiamate.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "call/clsChiamata.h"
#include "data/RdoConnection.h"
#include "engine/EngineState.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Version.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"

namespace ordalis {
namespace {

constexpr int kDefaultQueryTimeout = 30;
constexpr std::int32_t kErrOpenDsn = 1042;

}  // namespace

clsChiamate::clsChiamate() : impl_(std::make_unique<Impl>(*this)) {
  for (int id = 20501; id <= 20519; ++id) impl_->messages[id - 20501] = LoadResString(id);
  prefissi_interconn_ = std::make_shared<KeyedCollection<TextItem>>();
  col_carrier_ = std::make_shared<KeyedCollection<TextItem>>();
  mo_chiamata_ = std::make_shared<clsChiamata>();
  mo_chiamata_->Chiamate = this;
  connection_ = std::make_unique<rdo::RdoConnection>();
  SetLogPath(RemoveExeName(platform::ExecutablePath()));
  if (const char* home = std::getenv("ORDALIS_HOME"); home && *home) SetLogPath(platform::LogPath());
  SetLogEnabled(ReadIniString(LogPath() + "quarzo.ini", "Configurazione", "AbilitalogProcess") == "1");
}

clsChiamate::~clsChiamate() {
  // The caches and the call record point at the connection: they go first.
  mo_chiamata_.reset();
  ReleaseCaches();
  CloseConnection();
}

EngineEvents& clsChiamate::Events() {
  static EngineEvents no_handlers;
  return events_ ? *events_ : no_handlers;
}

void clsChiamate::DoEvents() {
  if (yield_) yield_();
}

void clsChiamate::Init(const std::string& vsDsn) {
  errore_.clear();
  try {
    // A registry path that names a device, a FIFO or a huge file is a
    // setup error, not an empty registry.
    if (std::string problem = platform::Registry::FileProblem(); !problem.empty())
      throw ComponentError(kErrProcessor, problem);
    set_Database(vsDsn);
    mo_chiamata_ = std::make_shared<clsChiamata>();
    mo_chiamata_->Chiamate = this;
    operation_ = "11111111111111110111";
    Cache();
    WriteDetailLog("Fine init");
  } catch (const ComponentError& e) {
    errore_ = e.Description();
    WriteDetailLogNoThrow("Errore nella init: " + e.Description());
  } catch (const std::exception& e) {
    errore_ = e.what();
    WriteDetailLogNoThrow("Errore nella init: " + errore_);
  }
}

std::string clsChiamate::ConnectString() const {
  if (tipo_db_ == dbSql) {
    std::string s = "DSN=" + database_ + ";";
    if (!user_.empty()) s += "UID=" + user_ + ";PWD=" + pwd_ + ";";
    return s;
  }
  return "Driver=Microsoft Access Driver (*.mdb);DBQ=" + database_;
}

int clsChiamate::QueryTimeoutFromRegistry() {
  const std::string title = LoadResString(51);
  auto warn = [&](int message) {
    Events().MessageBox(title, LoadResString(message) + std::to_string(kDefaultQueryTimeout) + LoadResString(20702));
  };
  std::string text;
  try {
    platform::RegKey key;
    if (platform::RegOpenKey(platform::HKEY_LOCAL_MACHINE, "software\\Valmer\\Quarzo\\Processor", &key) !=
        platform::kRegOk)
      return kDefaultQueryTimeout;
    char buffer[1024] = {};
    std::uint32_t type = 0, size = sizeof buffer;
    long rc = key.Query("QueryTimeout", &type, buffer, &size);
    key.Close();
    if (rc != platform::kRegOk || size == 0 || size >= sizeof buffer) return kDefaultQueryTimeout;
    if (type == platform::REG_DWORD && size == 4) {
      std::uint32_t v;
      std::memcpy(&v, buffer, 4);
      text = std::to_string(static_cast<std::int32_t>(v));
    } else {
      text.assign(buffer, size - 1);
    }
  } catch (const std::exception&) {
    warn(20701);
    return kDefaultQueryTimeout;
  }
  std::size_t b = text.find_first_not_of(' '), e = text.find_last_not_of(' ');
  if (b == std::string::npos) return kDefaultQueryTimeout;
  text = text.substr(b, e - b + 1);
  int value = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || value < 0 || value > 32767) {
    warn(20703);
    return kDefaultQueryTimeout;
  }
  return value;
}

void clsChiamate::set_Database(const std::string& value) {
  WriteDetailLog("##############################");
  WriteDetailLog("Database Let");
  database_ = value;
  // The connection object lives as long as the engine (the caches keep a
  // pointer to it); setting Database closes it and opens it anew.
  connection_->Close();
  mb_conn_aperta_ = false;
  connection_error_.clear();
  if (value.empty()) return;
  connection_->SetTuning(0, 2);
  connection_->SetConnect(ConnectString());
  connection_->SetTuning(1, 500);
  connection_->SetTuning(2, 0);
  int timeout = QueryTimeoutFromRegistry();
  WriteDetailLog("Impostazione Query timeout");
  connection_->SetQueryTimeout(timeout);
  WriteDetailLog("Connessione al database");
  try {
    connection_->EstablishConnection(false, false);
  } catch (const ComponentError& e) {
    WriteDetailLog("Errore: " + e.Description());
    connection_error_ = e.Description();
    connection_->Close();
    std::string description = impl_->messages[20519 - 20501] + database_;
    if (uso_riproc_) {
      WriteDetailLog("Raise error");
      throw ComponentError(ObjectError(kErrOpenDsn), description);
    }
    errore_ = description;
    cache_stopped_ = true;
    return;
  }
  WriteDetailLog("Connessione aperta");
  mb_conn_aperta_ = true;
  WriteDetailLog("mbConnAperta settato");
}

void clsChiamate::Reopen() {
  // The same object opens again: the caches keep their pointer to it.
  connection_->Close();
  connection_->SetConnect(ConnectString());
  connection_->EstablishConnection(user_, pwd_);
}

void clsChiamate::CloseConnection() {
  connection_->Close();
  mb_conn_aperta_ = false;
}

std::int32_t clsChiamate::Memoria(std::int16_t viTipo) const {
  if (viTipo == 0) return mem_cache_;
  if (viTipo == 1) return mem_uncache_;
  return 0;
}

std::string clsChiamate::Version() const {
  return std::to_string(ORDALIS_VERSION_MAJOR) + "." + std::to_string(ORDALIS_VERSION_MINOR) + "." +
         std::to_string(ORDALIS_VERSION_PATCH);
}

std::string clsChiamate::RemoveExeName(const std::string& sPath) const {
  WriteDetailLog("RemoveExeName");
  std::size_t pos = sPath.find_last_of("\\/");
  return pos == std::string::npos ? sPath : sPath.substr(0, pos + 1);
}

void clsChiamate::SendErrorMsg(std::int16_t iTentativo, std::string sErrDesc, std::int16_t iErrCode) {
  Events().SaveDataError(iTentativo, sErrDesc, iErrCode);
}

void clsChiamate::SendWarningMsg(const std::string& text) { Events().Warning(text); }

void clsChiamate::CacheError(std::int32_t offset, const std::string& message, const std::string& source) {
  if (uso_riproc_) throw ComponentError(ObjectError(offset), message, source);
  errore_ = message;
  cache_stopped_ = true;
}

CacheErrorSink& clsChiamate::ErrorSink() { return impl_->sink; }

void clsChiamate::CacheError(const ComponentError& error) {
  if (uso_riproc_) throw error;
  errore_ = error.Description();
  cache_stopped_ = true;
}

// Mirror properties that convert.
void clsChiamate::set_Data(const std::string& text) { mo_chiamata_->dData = dt::FromText(text); }
void clsChiamate::set_Ora(const std::string& text) { mo_chiamata_->dOra = dt::FromText(text); }
void clsChiamate::set_Risposta(const std::string& text) { mo_chiamata_->dRisposta = dt::FromText(text); }
void clsChiamate::set_Durata(const std::string& text) { mo_chiamata_->dDurata = dt::FromText(text); }
void clsChiamate::set_sSito(const std::string& text) { mo_chiamata_->set_sSito(text); }
double clsChiamate::cCosto1_c() const { return mo_chiamata_->cCosto1_c.ToDouble(); }
double clsChiamate::cCosto2_c() const { return mo_chiamata_->cCosto2_c.ToDouble(); }
double clsChiamate::cTariffa_c() const { return mo_chiamata_->cTariffa_c.ToDouble(); }
double clsChiamate::cDifferenza_c() const { return mo_chiamata_->cDifferenza_c.ToDouble(); }
void clsChiamate::set_cCosto1_c(double v) { mo_chiamata_->cCosto1_c = Money::FromDouble(v); }
void clsChiamate::set_cCosto2_c(double v) { mo_chiamata_->cCosto2_c = Money::FromDouble(v); }
void clsChiamate::set_cTariffa_c(double v) { mo_chiamata_->cTariffa_c = Money::FromDouble(v); }
void clsChiamate::set_cDifferenza_c(double v) { mo_chiamata_->cDifferenza_c = Money::FromDouble(v); }
Money clsChiamate::cCosto3_c() const { return mo_chiamata_->cCosto3_c; }

}  // namespace ordalis
