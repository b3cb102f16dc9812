#pragma once
// clsLcr: one least-cost-routing entry of a site: which carrier carries calls
// to which destination group, on which line, in which time window, with which
// priority. It owns the group's destinations and the carrier's tariffs for
// the group, both read from the carrier's own tariff file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ordalis/DateTime.h"
#include "ordalis/Money.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
class RdoResultset;
}  // namespace rdo
class clsChiamate;
class clsDestinazione;
class clsDestinazioni;
class clsTariffe;
struct SitoLcr;

class clsLcr {
 public:
  std::string Key;  // Sito¦Carrier¦GruppoDest¦Dalle¦Linea
  DateTime Dalle = 0;
  DateTime Alle = 0;
  std::string Linea;
  bool Scatti = false;
  Money CostoScatto;
  std::int16_t Priorita = 0;
  std::string Carrier;
  std::string GruppoDest;
  std::string TipoGruppo;
  std::string Sito;
  rdo::RdoConnection* Connection = nullptr;  // the engine's database
  clsChiamate* Chiamate = nullptr;

  // Null while the entry has no destinations / tariffs (its carrier file
  // was missing or unreadable).
  const std::shared_ptr<clsDestinazioni>& Destinazioni() const { return destinazioni_; }
  const std::shared_ptr<clsTariffe>& Tariffe() const { return tariffe_; }
  // An entry built in memory rather than loaded from a carrier file.
  void set_Destinazioni(std::shared_ptr<clsDestinazioni> d) { destinazioni_ = std::move(d); }
  void set_Tariffe(std::shared_ptr<clsTariffe> t) { tariffe_ = std::move(t); }

  // Sito + "¦" + Carrier + "¦" + GruppoDest + "¦" + Dalle + "¦" + Linea.
  std::string MakeKey() const;

  // Whether TipoGruppo marks a local ("LOCAL", "LOCALI") or a national
  // ("NATIONAL", "NAZIONALI") entry, letter case ignored.
  bool IsLocal() const;
  bool IsNational() const;

  // Loads the entry's destinations and tariffs from the carrier file: the
  // one open on `carrier`, or, when null, the file that table Carrier of the
  // engine's database names for Carrier (a relative name is under the log
  // directory). A missing or unreadable file leaves the entry without
  // destinations and tariffs and is reported: logged, a warning and the
  // engine's Errore (the other caches go on loading), or thrown (1028) with
  // UsoRiproc; failures
  // of single destinations and tariffs are logged and the rows skipped.
  // Fills *site.Destinazione from the carrier's destinations when empty.
  // REQUIRES: Connection (when carrier is null), Chiamate set.
  void CacheGruppoETariffe(SitoLcr& site, rdo::RdoConnection* carrier);

  // A destination from the current row of a Destinazioni resultset: country
  // "99" stands for "39"; Tipo is sTipo when not empty, else the row's.
  static void GetDestinazioneFromDB(const rdo::RdoResultset& rs, std::shared_ptr<clsDestinazione>& oDest,
                                    std::string_view sTipo);

 private:
  void ReportUnreadableFile(const std::string& path, const std::string& why);
  void LoadDestinations(rdo::RdoResultset& members, SitoLcr& site, rdo::RdoConnection& carrier);
  void LoadTariffs(rdo::RdoConnection& carrier);

  std::shared_ptr<clsDestinazioni> destinazioni_;
  std::shared_ptr<clsTariffe> tariffe_;
};

}  // namespace ordalis
