#include "reference/clsSiti.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "platform/FileSystem.h"
#include "platform/TextLines.h"
#include "reference/clsSito.h"
#include "support/CommonLib.h"
#include "support/RegistryLib.h"
#include "support/StringTable.h"
#include "tariffs/clsLcr.h"

namespace ordalis {

namespace {

constexpr char kCacheSource[] = "clsSiti.Cache";
constexpr std::int32_t kErrNoSites = 1038;
constexpr int kMsgNoSites = 20515;

// Text of a column joined to the empty text; a missing column reads as the
// empty text too, so that a Siti table of an older schema still loads.
std::string Text(const rdo::RdoResultset& rs, int index) { return index < 0 ? std::string() : rs.Value(index).ToText(); }

// base_dir + name, with exactly one separator between them.
std::string JoinPath(const std::string& base_dir, const std::string& name) {
  if (base_dir.empty()) return name;
  const char last = base_dir.back();
  return (last == '/' || last == '\\') ? base_dir + name : base_dir + "/" + name;
}

// The value read from the current s-prefixed column, else from the column
// of the same meaning without the prefix.
//
// Two generations of the table carry the site's prefixes and currency: the
// s-prefixed columns (sPrefNazione, sPrefArea, sPrefInternazionale, sValuta)
// that the host maintains, and the unprefixed ones (PrefNazione, PrefArea,
// PrefInternazionale, Valuta) that the schema upgrade adds and fills. The
// upgrade of this engine fills both (the s-prefixed ones only where they are
// empty), and databases upgraded by earlier releases have only the
// unprefixed ones filled: reading the s-prefixed value first and falling back
// to the unprefixed one makes every such database load like a current one.
// The upgrade writes "-" into Valuta when the installation has no currency
// option; that marks "no currency" and is read as the empty text, as an
// empty sValuta is.
std::string PrefixedOrPlain(const rdo::RdoResultset& rs, int prefixed, int plain, bool dash_is_empty = false) {
  std::string value = Text(rs, prefixed);
  if (!value.empty()) return value;
  value = Text(rs, plain);
  if (dash_is_empty && value == "-") value.clear();
  return value;
}

struct SiteColumns {
  explicit SiteColumns(const rdo::RdoResultset& rs)
      : abilita_log(rs.ColumnIndex("bAbilitaLog")),
        codice(rs.ColumnIndex("sCodice")),
        nome(rs.ColumnIndex("sNome")),
        country(rs.ColumnIndex("sCountryId")),
        area(rs.ColumnIndex("sAreaLocale")),
        s_pref_naz(rs.ColumnIndex("sPrefNazione")),
        s_pref_area(rs.ColumnIndex("sPrefArea")),
        s_pref_int(rs.ColumnIndex("sPrefInternazionale")),
        s_valuta(rs.ColumnIndex("sValuta")),
        pref_naz(rs.ColumnIndex("PrefNazione")),
        pref_area(rs.ColumnIndex("PrefArea")),
        pref_int(rs.ColumnIndex("PrefInternazionale")),
        valuta(rs.ColumnIndex("Valuta")),
        time_zone(rs.ColumnIndex("IDTimeZone")),
        abilita_confronto(rs.ColumnIndex("bAbilitaConfronto")),
        carrier_rif(rs.ColumnIndex("sCarrierDiRifer")),
        aggiunta(rs.ColumnIndex("iAggiuntaAutomaticaTornel")),
        gestione(rs.ColumnIndex("iTipoGestioneDerivati")) {
    if (codice < 0) throw ComponentError(rdo::kErrColumnNotFound, "Column 'sCodice' not found in Siti", kCacheSource);
  }
  int abilita_log, codice, nome, country, area, s_pref_naz, s_pref_area, s_pref_int, s_valuta, pref_naz, pref_area,
      pref_int, valuta, time_zone, abilita_confronto, carrier_rif, aggiunta, gestione;
};

// A yes/no or integer column: null (or missing) gives `if_null`.
bool FlagOr(const rdo::RdoResultset& rs, int index, bool if_null) {
  if (index < 0 || rs.Value(index).IsNull()) return if_null;
  return rs.Value(index).ToBool();
}
bool IsOne(const rdo::RdoResultset& rs, int index, bool if_null) {
  if (index < 0 || rs.Value(index).IsNull()) return if_null;
  return rs.Value(index).ToDouble() == 1;
}

// The reference carrier's tariff file for a site that enables comparison.
// sCarrierDiRifer holds a carrier name (as the host writes it) or, after the
// schema upgrade, the tariff file of that carrier: a value that names no
// carrier is taken as a file. An absolute name is used as it is; a relative
// one is looked for under base_dir/Carrier/, then under base_dir (never
// under the working directory); none of them: no reference carrier.
std::string ReferenceCarrierFile(rdo::RdoConnection& connection, const std::string& carrier_rif,
                                 const std::string& base_dir) {
  std::string file = carrier_rif;
  auto rs = connection.OpenResultset("SELECT * FROM carrier where sNomeCarrier = " + rdo::SqlQuote(carrier_rif));
  if (!rs->Eof()) file = rs->Value("sDBTariffe").ToText();
  rs->Close();
  if (file.empty()) return file;
  if (file.front() == '/') return platform::FileExists(file) ? file : std::string();
  if (std::string p = JoinPath(base_dir, "Carrier/" + file); platform::FileExists(p)) return p;
  if (std::string p = JoinPath(base_dir, file); platform::FileExists(p)) return p;
  return {};
}

// ---- Schema upgrade -------------------------------------------------------

// The servers the upgrade writes statements for. SQLite files are told by the
// connection; an ODBC source is asked for version(), which only PostgreSQL
// answers with its name; any other server gets the SQL Server forms.
enum class Dialect { Sqlite, PostgreSql, SqlServer };

Dialect DialectOf(rdo::RdoConnection& connection) {
  if (connection.IsFileDatabase()) return Dialect::Sqlite;
  try {
    if (platform::ContainsNoCase(QueryFirstValue("SELECT version()", connection), "PostgreSQL")) return Dialect::PostgreSql;
  } catch (const std::exception&) {
    // Not PostgreSQL: the statement is unknown to the server.
  }
  return Dialect::SqlServer;
}

struct ColumnDef {
  const char* name;
  const char* type;            // the same in every dialect
  const char* sqlserver_type;  // SQL Server, when it differs
};

// Columns of the current Siti that an older table may lack, in the order
// they are added. PrefNazione is the column whose presence marks the table
// as current, so it is added last: an upgrade that fails half-way is taken up
// again at the next start.
constexpr ColumnDef kSiteColumns[] = {
    {"sPrefNazione", "VARCHAR(50)", nullptr},
    {"sPrefArea", "VARCHAR(50)", nullptr},
    {"sPrefInternazionale", "VARCHAR(50)", nullptr},
    {"sValuta", "VARCHAR(100)", nullptr},
    {"sCarrierDiRifer", "VARCHAR(255)", nullptr},
    {"PrefArea", "VARCHAR(50)", nullptr},
    {"PrefInternazionale", "VARCHAR(50)", nullptr},
    {"Valuta", "VARCHAR(100)", nullptr},
    // Existing rows take the default: SQLite and PostgreSQL fill it in,
    // SQL Server needs WITH VALUES.
    {"iAggiuntaAutomaticaTornel", "INTEGER DEFAULT 1", "int NULL DEFAULT 1 WITH VALUES"},
    {"iTipoGestioneDerivati", "INTEGER DEFAULT 0", "int NULL DEFAULT 0 WITH VALUES"},
};
constexpr ColumnDef kProbeColumn = {"PrefNazione", "VARCHAR(50)", nullptr};

// Columns of Valute that clsValute reads, and the columns of the older form
// of the table their values are copied from when they have to be added.
struct CurrencyColumn {
  ColumnDef def;
  const char* old_name;  // null: no older column holds the value
};
constexpr CurrencyColumn kCurrencyColumns[] = {
    {{"sDescrizione", "VARCHAR(100)", nullptr}, "Descrizione"},
    {{"sSimbolo", "VARCHAR(20)", nullptr}, "Simbolo"},
    {{"sCodice", "VARCHAR(20)", nullptr}, nullptr},
    {{"iNumeroDecimali", "SMALLINT", nullptr}, "NumeroDecimali"},
    {{"sValutaRif", "VARCHAR(20)", nullptr}, nullptr},
    {{"dblRapportoDiCambio", "DOUBLE PRECISION", "float"}, "RapportoDiCambio"},
};

std::string AddColumnSql(Dialect dialect, const char* table, const ColumnDef& column) {
  if (dialect == Dialect::SqlServer)
    return std::string("ALTER TABLE ") + table + " ADD " + column.name + " " +
           (column.sqlserver_type ? column.sqlserver_type : column.type);
  return std::string("ALTER TABLE ") + table + " ADD COLUMN " + column.name + " " + column.type;
}

// The currency table in its current form: the columns clsValute reads and
// the ones hosts of the older form write.
std::string CreateCurrencyTableSql(Dialect dialect) {
  switch (dialect) {
    case Dialect::Sqlite:
      return "CREATE TABLE Valute (ID INTEGER PRIMARY KEY, sDescrizione VARCHAR(100), sSimbolo VARCHAR(20), "
             "sCodice VARCHAR(20), iNumeroDecimali SMALLINT, sValutaRif VARCHAR(20), dblRapportoDiCambio DOUBLE, "
             "Descrizione VARCHAR(100), Simbolo VARCHAR(20), NumeroDecimali INTEGER, RapportoDiCambio DOUBLE)";
    case Dialect::PostgreSql:
      return "CREATE TABLE Valute (ID SERIAL PRIMARY KEY, sDescrizione VARCHAR(100), sSimbolo VARCHAR(20), "
             "sCodice VARCHAR(20), iNumeroDecimali SMALLINT, sValutaRif VARCHAR(20), "
             "dblRapportoDiCambio DOUBLE PRECISION, Descrizione VARCHAR(100), Simbolo VARCHAR(20), "
             "NumeroDecimali INTEGER, RapportoDiCambio DOUBLE PRECISION)";
    case Dialect::SqlServer:
      break;
  }
  return "CREATE TABLE [Valute] ([ID] INT IDENTITY(1,1) NOT NULL, sDescrizione VARCHAR(100), sSimbolo VARCHAR(20), "
         "sCodice VARCHAR(20), iNumeroDecimali SMALLINT, sValutaRif VARCHAR(20), dblRapportoDiCambio [float], "
         "Descrizione VARCHAR(100), Simbolo VARCHAR(20), NumeroDecimali INT, RapportoDiCambio [float], "
         "CONSTRAINT [PK_Valute] PRIMARY KEY CLUSTERED ([ID] ASC))";
}


}  // namespace

clsSiti::clsSiti() : siti_(std::make_shared<Collection>()) {}

clsSiti::clsSiti(clsChiamate* engine, rdo::RdoConnection* connection, ordalis::TipoDb tipo_db)
    : TipoDb(tipo_db), Connection(connection), Chiamate(engine), siti_(std::make_shared<Collection>()) {}

clsSiti::~clsSiti() = default;

std::shared_ptr<clsSito> clsSiti::GetSito(std::string_view codice) const {
  for (const auto& sito : *siti_)
    if (sito->Codice == codice) return sito;
  return nullptr;
}

void clsSiti::Cache(CacheType /*tipo*/, const std::string& base_dir) {
  SitoRiferimento.clear();
  CheckSiteTable(base_dir);

  std::string sql = "SELECT * FROM Siti";
  if (IsOem(kOemKelmora) && OemKeyExists()) {
    WriteDetailLog("************************* OEM KELMORA *******************************");
    // The partner's site codes sort as numbers once E, T, I and S read as 0.
    sql += " order by replace(replace(replace(replace(scodice,'E','0'),'T','0'),'I','0'),'S','0')";
  }
  auto rs = Connection->OpenResultset(sql, rdo::CursorType::ForwardOnly, rdo::LockType::ReadOnly);
  siti_ = std::make_shared<Collection>();
  if (rs->Eof()) {
    rs->Close();
    Chiamate->CacheError(kErrNoSites, LoadResString(kMsgNoSites), kCacheSource);
    return;
  }

  const SiteColumns c(*rs);
  for (; !rs->Eof(); rs->MoveNext()) {
    auto sito = std::make_shared<clsSito>();
    sito->AbilitaLog = FlagOr(*rs, c.abilita_log, false);
    sito->Codice = Text(*rs, c.codice);
    sito->Nome = Text(*rs, c.nome);
    sito->DescrNaz = Text(*rs, c.country);
    sito->DescrArea = Text(*rs, c.area);
    sito->PrefNaz = PrefixedOrPlain(*rs, c.s_pref_naz, c.pref_naz);
    sito->PrefArea = PrefixedOrPlain(*rs, c.s_pref_area, c.pref_area);
    sito->PrefInternazionale = PrefixedOrPlain(*rs, c.s_pref_int, c.pref_int);
    sito->Valuta = PrefixedOrPlain(*rs, c.s_valuta, c.valuta, true);
    sito->IDTimeZone = Text(*rs, c.time_zone);

    if (sito->PrefNaz.empty() || sito->PrefArea.empty()) {
      auto dest = Connection->OpenResultset("SELECT * FROM Destinazioni where sDescrizioneArea = " +
                                            rdo::SqlQuote(sito->DescrArea));
      if (dest->Eof()) {
        WriteDetailLog("\tATTENZIONE: mancano i valori per i campi PrefNaz e PrefArea");
      } else {
        sito->PrefNaz = dest->Value("sNazione").ToText();
        sito->PrefArea = dest->Value("sArea").ToText();
        WriteDetailLog("\tRecuperati PrefNaz e PrefArea dalla tabella destinazioni: " + sito->PrefNaz + " - " +
                       sito->PrefArea);
      }
      dest->Close();
    }
    if (sito->PrefNaz == "99") sito->PrefNaz = "39";
    if (sito->PrefInternazionale.empty()) sito->PrefInternazionale = "00";

    if (FlagOr(*rs, c.abilita_confronto, false))
      sito->Carrier2 = ReferenceCarrierFile(*Connection, Text(*rs, c.carrier_rif), base_dir);

    sito->AggiuntaAutomaticaDerivati = IsOne(*rs, c.aggiunta, true);
    sito->DerivatiPerTutteLeSedi = IsOne(*rs, c.gestione, false);

    const std::string codice = sito->Codice;
    // A repeated code is dropped when added; its tables are not loaded, so a
    // dropped row cannot stop the load with a failure of its own.
    if (!siti_->Contains(codice)) {
      sito->Database = Connection;
      sito->Chiamate = Chiamate;
      sito->Cache();
      AddToCollection(*siti_, sito, codice, Chiamate->ErrorSink());
      sito->Key = codice;
    }
    if (SitoRiferimento.empty()) {
      SitoRiferimento = codice;
      WriteDetailLog("Codice sito di riferimento = " + codice);
    }
  }
  rs->Close();
}

// The upgrade, step by step. Each statement runs with its failure caught: a
// failure records its message (UpgradeError) and the steps go on as follows.
//  1. Siti has PrefNazione: Siti is current and is not touched.
//  2. Add every column of the current Siti the table lacks, one ALTER TABLE
//     per column (SQLite accepts nothing else). A failure stops the upgrade.
//  3. Widen sCarrierDiRifer to varchar(255) on the servers (PostgreSQL
//     ALTER COLUMN ... TYPE, SQL Server ALTER COLUMN). SQLite cannot change
//     a column's type, and needs not: it keeps text of any length whatever
//     the declared size, so the step is skipped there. A column already
//     wider, or unbounded, is left alone. A failure stops the upgrade.
//  4. Currency table: created in its current form (the columns clsValute
//     reads plus the older ones) when missing; an existing table of the
//     older form gets the columns clsValute reads, filled from the older
//     ones. A failure skips steps 5 to 7.
//  5. Prefixes of each site from the destinations of its country's prefix
//     database (or of the engine's database), into PrefNazione, PrefArea
//     and PrefInternazionale, and into the s-prefixed columns where these
//     are empty.
//  6. Currency of each site from option Valuta1/Descrizione into Valuta
//     ("-" without the option), and into an empty sValuta when there is one.
//  7. A reference carrier given by name is replaced by its tariff file (the
//     cache accepts both forms).
// Step 4 also runs on its own when Siti is current but Valute still has the
// older form, so that a database upgraded by an earlier release loads its
// currencies too.
void clsSiti::CheckSiteTable(const std::string& base_dir) {
  upgrade_error_.clear();
  if (!Connection) return;
  auto fail = [&](const std::string& message) {
    upgrade_error_ = message;
    WriteDetailLogNoThrow(message);
  };

  bool siti_current = true, valute_current = true;
  try {
    siti_current = Connection->ColumnExists("Siti", kProbeColumn.name);
    valute_current = Connection->TableExists("Valute");
    for (const auto& col : kCurrencyColumns)
      valute_current = valute_current && Connection->ColumnExists("Valute", col.def.name);
  } catch (const std::exception& e) {
    fail("Unable to alter Site table: " + std::string(e.what()));
    return;
  }
  if (siti_current && valute_current) return;
  const Dialect dialect = DialectOf(*Connection);

  if (!siti_current) {
    // Step 2.
    try {
      for (const auto& col : kSiteColumns)
        if (!Connection->ColumnExists("Siti", col.name)) Connection->Execute(AddColumnSql(dialect, "Siti", col));
    } catch (const std::exception& e) {
      fail("Unable to alter Site table: " + std::string(e.what()));
      return;
    }
    // Step 3.
    try {
      if (dialect != Dialect::Sqlite) {
        auto probe = Connection->OpenResultset("SELECT sCarrierDiRifer FROM Siti WHERE 1 = 0");
        const int size = probe->ColumnSize(0);
        probe->Close();
        if (size > 0 && size < 255)
          Connection->Execute(dialect == Dialect::PostgreSql
                                  ? "ALTER TABLE Siti ALTER COLUMN sCarrierDiRifer TYPE VARCHAR(255)"
                                  : "ALTER TABLE Siti ALTER COLUMN sCarrierDiRifer VARCHAR(255)");
      }
      Connection->Execute(AddColumnSql(dialect, "Siti", kProbeColumn));
    } catch (const std::exception& e) {
      fail("Unable to alter Site table(2): " + std::string(e.what()));
      return;
    }
  }

  // Step 4.
  if (!valute_current) {
    try {
      if (!Connection->TableExists("Valute")) {
        Connection->Execute(CreateCurrencyTableSql(dialect));
      } else {
        for (const auto& col : kCurrencyColumns) {
          if (Connection->ColumnExists("Valute", col.def.name)) continue;
          Connection->Execute(AddColumnSql(dialect, "Valute", col.def));
          if (col.old_name && Connection->ColumnExists("Valute", col.old_name))
            Connection->Execute(std::string("UPDATE Valute SET ") + col.def.name + " = " + col.old_name);
        }
      }
    } catch (const std::exception& e) {
      fail("Unable to update database, currency table: " + std::string(e.what()));
      return;
    }
  }
  if (siti_current) return;

  // Step 5.
  try {
    auto rs = Connection->OpenResultset("select * from siti", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
    for (; !rs->Eof(); rs->MoveNext()) {
      const std::string country = rs->Value("sCountryId").ToText();
      const std::string area = rs->Value("sAreaLocale").ToText();
      std::unique_ptr<rdo::RdoConnection> prefissi;
      rdo::RdoConnection* db = Connection;
      const std::string path = JoinPath(base_dir, "international/" + country + "/prefissi.mdb");
      std::string naz, area_pref;
      bool found = false;
      try {
        if (!country.empty() && platform::FileExists(path)) {
          prefissi = rdo::RdoEnvironment::Default().OpenConnection(path, false, false, rdo::FileConnectString(path));
          db = prefissi.get();
        }
        auto dest = db->OpenResultset("Select sNazione, sArea from destinazioni where sDescrizioneNaz = " +
                                      rdo::SqlQuote(country) + " and sDescrizioneArea = " + rdo::SqlQuote(area));
        if (!dest->Eof()) {
          found = true;
          naz = dest->Value(0).ToText();
          area_pref = dest->Value(1).ToText();
        }
        dest->Close();
      } catch (const std::exception& e) {
        fail("Unable to retrieve site area code: " + std::string(e.what()));
        continue;
      }
      if (prefissi) prefissi->Close();
      if (!found) {
        fail("Unable to retrieve site area code");
        continue;
      }
      try {
        const std::string international = Chiamate ? Chiamate->PrefissoInternazionale() : std::string("00");
        rs->Edit();
        rs->SetValue("PrefNazione", Variant(naz));
        rs->SetValue("PrefArea", Variant(area_pref));
        rs->SetValue("PrefInternazionale", Variant(international));
        if (rs->Value("sPrefNazione").ToText().empty()) rs->SetValue("sPrefNazione", Variant(naz));
        if (rs->Value("sPrefArea").ToText().empty()) rs->SetValue("sPrefArea", Variant(area_pref));
        if (rs->Value("sPrefInternazionale").ToText().empty())
          rs->SetValue("sPrefInternazionale", Variant(international));
        rs->Update();
      } catch (const std::exception& e) {
        rs->CancelUpdate();
        fail("Unable to update database, site table: " + std::string(e.what()));
      }
    }
    rs->Close();
  } catch (const std::exception& e) {
    fail("Unable to update database, site table: " + std::string(e.what()));
  }

  // Step 6.
  try {
    auto option = Connection->OpenResultset(
        "Select sValue from opzioni where ssection = 'Valuta1' and sEntry = 'Descrizione'");
    const std::string valuta = option->Eof() ? std::string("-") : option->Value(0).ToText();
    option->Close();
    auto rs = Connection->OpenResultset("select * from siti", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
    for (; !rs->Eof(); rs->MoveNext()) {
      try {
        rs->Edit();
        rs->SetValue("Valuta", valuta.empty() ? Variant() : Variant(valuta));
        if (valuta != "-" && rs->Value("sValuta").ToText().empty())
          rs->SetValue("sValuta", valuta.empty() ? Variant() : Variant(valuta));
        rs->Update();
      } catch (const std::exception& e) {
        rs->CancelUpdate();
        fail("Unable to update database, site currency: " + std::string(e.what()));
      }
    }
    rs->Close();
  } catch (const std::exception& e) {
    fail("Unable to update database, site currency: " + std::string(e.what()));
  }

  // Step 7.
  try {
    auto rs = Connection->OpenResultset("select * from siti", rdo::CursorType::Keyset, rdo::LockType::OptimisticRowVer);
    for (; !rs->Eof(); rs->MoveNext()) {
      const std::string carrier = rs->Value("sCarrierDiRifer").ToText();
      if (carrier.empty() || platform::ContainsNoCase(carrier, ".MDB")) continue;
      try {
        auto found = Connection->OpenResultset("select sDbTariffe from carrier where sNomeCarrier = " +
                                               rdo::SqlQuote(carrier));
        const bool has = !found->Eof();
        const std::string file = has ? found->Value(0).ToText() : std::string();
        found->Close();
        if (!has) continue;
        rs->Edit();
        rs->SetValue("sCarrierDiRifer", file.empty() ? Variant() : Variant(file));
        rs->Update();
      } catch (const std::exception& e) {
        rs->CancelUpdate();
        fail("Unable to update database, site table: " + std::string(e.what()));
      }
    }
    rs->Close();
  } catch (const std::exception& e) {
    fail("Unable to update database, site table: " + std::string(e.what()));
  }
}

}  // namespace ordalis
