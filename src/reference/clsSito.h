#pragma once
// clsSito: one site (exchange) of the organisation: its code and name, the
// country and area it lies in with their prefixes, its currency and time
// zone, and, once cached, its own LCR tables, its calendar and the LCR
// tables of its reference carrier.
#include <memory>
#include <string>

#include "ordalis/Enums.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsCalendario;
class clsCarrier;
class clsDestinazione;
class clsLcrs;

class clsSito {
 public:
  clsSito();
  ~clsSito();

  // Currency name (looked up with clsValute::GetValutaByName).
  std::string Valuta;
  // Time-zone identifier (clsTimeZones).
  std::string IDTimeZone;
  // Identification status of the site for the call being rated.
  Stato Status = stDaIndividuare;
  // Per-site logging switch (bAbilitaLog).
  bool AbilitaLog = false;
  // Collection key; equals Codice.
  std::string Key;
  // The connection the site loads its own tables through (not owned).
  rdo::RdoConnection* Database = nullptr;
  // The engine (not owned); the LCR tables and the calendar report their
  // load failures through it.
  clsChiamate* Chiamate = nullptr;
  std::string Codice;
  std::string Nome;
  // Path of the reference carrier's tariff file; empty: no reference carrier.
  std::string Carrier2;
  // Country and area descriptions (sCountryId, sAreaLocale).
  std::string DescrNaz;
  std::string DescrArea;
  // The site's own destination (filled by the first LCR load that finds it)
  // and the carrier of the call being rated; both set by other parts.
  std::shared_ptr<clsDestinazione> Destinazione;
  std::shared_ptr<clsCarrier> Carrier;
  std::string PrefNaz;
  std::string PrefInternazionale;
  std::string PrefArea;
  std::shared_ptr<clsCalendario> Calendario;
  // Unknown extensions calling from this site are added to Derivati.
  bool AggiuntaAutomaticaDerivati = false;
  // Extensions are keyed number¦"*" instead of number¦site.
  bool DerivatiPerTutteLeSedi = false;

  // Name of the reference carrier, read from its tariff file by
  // CacheCarrierConfronto; empty until then.
  const std::string& Carrier2Name() const { return carrier2_name_; }
  // The site's LCR tables; null until Cache.
  const std::shared_ptr<clsLcrs>& Lcrs() const { return lcrs_; }
  // The reference carrier's LCR tables; null when Carrier2 is empty.
  const std::shared_ptr<clsLcrs>& LcrsCarrier2() const { return lcrs_carrier2_; }

  // Loads the site's LCR tables from CarrierSiti (a site without rows is
  // failure 1035 under the engine's cache-error convention), its calendar
  // for DescrNaz, then CacheCarrierConfronto.
  // REQUIRES: Database and Chiamate set. Errors of the calendar and of the
  // reference carrier's file reach the caller.
  void Cache();

  // When Carrier2 is not empty: new LcrsCarrier2 loaded from that file
  // (clsLcrs::CacheFromMdb) and Carrier2Name set to the carrier name the file
  // holds. Throws ComponentError 111 when the file does not exist.
  void CacheCarrierConfronto();

 private:
  std::shared_ptr<clsLcrs> lcrs_;
  std::shared_ptr<clsLcrs> lcrs_carrier2_;
  std::string carrier2_name_;
};

}  // namespace ordalis
