#include "tariffs/clsLcrs.h"

#include <cmath>
#include <cstdlib>

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"
#include "numbering/CacheAdd.h"
#include "ordalis/ComponentError.h"
#include "ordalis/Variant.h"
#include "ordalis/clsChiamate.h"
#include "platform/FileSystem.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"
#include "tariffs/SitoLcr.h"
#include "tariffs/clsLcr.h"

namespace ordalis {

namespace {

constexpr std::int32_t kErrNoSiteTariffs = 1035;
constexpr char kCacheSource[] = "clsLcrs.Cache";

DateTime DateOrZero(const Variant& v) { return v.IsNull() ? 0.0 : v.ToDate(); }

// The most frequent destination type among the members of a group (the
// first row returned on a tie).
std::string GroupKindSql(const std::string& group) {
  return "SELECT Destinazioni.sTipo, C2.MaxOfTot "
         "FROM (Destinazioni INNER JOIN GruppoDiDestinazioni ON (Destinazioni.sNazione = "
         "GruppoDiDestinazioni.sNazione) AND "
         "(Destinazioni.sArea =GruppoDiDestinazioni.sArea)) INNER JOIN "
         "(SELECT C1.sDenominazione, Max(C1.Tot) AS MaxOfTot From "
         "(SELECT GruppoDiDestinazioni.sDenominazione, Destinazioni.sTipo, Count(*) AS Tot "
         "FROM (Destinazioni INNER JOIN GruppoDiDestinazioni ON (Destinazioni.sArea =GruppoDiDestinazioni.sArea) AND "
         "(Destinazioni.sNazione =GruppoDiDestinazioni.sNazione)) "
         "GROUP BY GruppoDiDestinazioni.sDenominazione, Destinazioni.sTipo)  AS C1 "
         "GROUP BY C1.sDenominazione) AS c2 ON GruppoDiDestinazioni.sDenominazione = C2.sDenominazione "
         "Where GruppoDiDestinazioni.sDenominazione = " +
         rdo::SqlQuote(group) +
         " "
         "GROUP BY Destinazioni.sTipo, C2.MaxOfTot HAVING Count(*) = C2.MaxOfTot";
}

}  // namespace

std::int16_t ParsePriorita(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  char* end = nullptr;
  double value = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(value)) value = 0;
  const double whole = std::nearbyint(value);  // the default rounding: halves to even
  if (whole < -32768 || whole > 32767) throw ComponentError(kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(whole);
}

clsLcrs::clsLcrs() : lcrs_(std::make_shared<KeyedCollection<clsLcr>>()) {}

clsLcrs::clsLcrs(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), lcrs_(std::make_shared<KeyedCollection<clsLcr>>()) {}

clsLcrs::~clsLcrs() = default;

void clsLcrs::Cache(CacheType tipo, SitoLcr& oSito) {
  prefissi_.clear();
  lcrs_ = std::make_shared<KeyedCollection<clsLcr>>();
  if (tipo != ctPreload) return;

  auto rs = Connection->OpenResultset("SELECT * FROM CarrierSiti WHERE sSito_e = " + rdo::SqlQuote(oSito.Codice));
  if (rs->Eof()) {
    rs->Close();
    Chiamate->CacheError(kErrNoSiteTariffs, LoadResString(20511), kCacheSource);
    return;
  }
  for (; !rs->Eof() && !Chiamate->CacheStopped(); rs->MoveNext()) {
    const std::string carrier = rs->Value("sCarrier_e").ToText();
    const std::string group = rs->Value("sGruppoDestinazioni").ToText();
    const DateTime dalle = DateOrZero(rs->Value("dDalle"));
    const DateTime alle = DateOrZero(rs->Value("dAlle"));
    const Money costo_scatto = rs->Value("cCostoScatto").ToMoney();  // Null reads as 0
    const std::string tipo_gruppo = rs->Value("sTipoGruppo").ToText();
    const std::string linea = rs->Value("sLinea").ToText();
    const bool scatti = rs->Value("bTassazioneScatti").ToBool();
    const std::int16_t priorita = ParsePriorita(rs->Value("iPriorita").ToText());
    AddLcr(carrier, oSito, group, dalle, alle, linea, scatti, costo_scatto, priorita, tipo_gruppo, nullptr);
  }
  rs->Close();
}

void clsLcrs::CacheFromMdb(const std::string& sFile, SitoLcr& oSito) {
  prefissi_.clear();
  if (!platform::FileExists(sFile)) RaiseProcessorError("Unable to retreive Carrier2 file: " + sFile);
  auto carrier = rdo::RdoEnvironment::Default().OpenConnection("", false, false, rdo::FileConnectString(sFile));
  const std::string name = QueryFirstValue("Select NomeCarrier from Carrier", *carrier);

  auto groups = carrier->OpenResultset("select distinct sGruppoDest_e from listino");
  for (; !groups->Eof(); groups->MoveNext()) {
    const std::string group = groups->Value(0).ToText();
    const std::string kind = QueryFirstValue(GroupKindSql(group), *carrier);
    AddLcr(name, oSito, group, 0.0, dt::FromTime(23, 59, 59), LoadResString(20811), false, Money(), 1, kind,
           carrier.get());
  }
  groups->Close();
  carrier->Close();
}

void clsLcrs::AddLcr(const std::string& sCarrier, SitoLcr& oSito, const std::string& sGruppo, DateTime dDalle,
                     DateTime dAlle, const std::string& sLinea, bool bScatti, Money cCostoScatto,
                     std::int16_t iPriorita, const std::string& sTipoGruppo, rdo::RdoConnection* carrier) {
  if (!sCarrier.empty() && !prefissi_.contains(sCarrier)) {
    const std::string prefix =
        carrier ? QueryFirstValue("Select sPrefissoInterconn from carrier where NomeCarrier = " + rdo::SqlQuote(sCarrier),
                                  *carrier)
                : QueryFirstValue(
                      "Select sPrefissoInterconn from carrier where sNomeCarrier = " + rdo::SqlQuote(sCarrier),
                      *Connection);
    if (!prefix.empty()) prefissi_.emplace(sCarrier, prefix);
  }

  auto lcr = std::make_shared<clsLcr>();
  lcr->Dalle = dDalle;
  lcr->Alle = dAlle;
  lcr->Linea = sLinea;
  lcr->Scatti = bScatti;
  lcr->CostoScatto = cCostoScatto;
  lcr->Priorita = iPriorita;
  lcr->Carrier = sCarrier;
  lcr->Sito = oSito.Codice;
  lcr->GruppoDest = sGruppo;
  lcr->TipoGruppo = sTipoGruppo;
  lcr->Connection = Connection;
  lcr->Chiamate = Chiamate;
  lcr->CacheGruppoETariffe(oSito, carrier);

  const std::string key = lcr->MakeKey();
  CacheAdd(*lcrs_, lcr, key, *Chiamate);
  lcr->Key = key;
}

}  // namespace ordalis
