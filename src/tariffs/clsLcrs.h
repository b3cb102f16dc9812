#pragma once
// clsLcrs: the LCR table of a site (from CarrierSiti of the engine's
// database), or of the site's reference carrier (from a carrier tariff file
// alone), with the interconnection prefixes of the carriers it names.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/Money.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;
class clsLcr;
struct SitoLcr;

class clsLcrs {
 public:
  clsLcrs();
  clsLcrs(clsChiamate* engine, rdo::RdoConnection* connection);
  ~clsLcrs();

  rdo::RdoConnection* Connection = nullptr;  // the engine's database
  clsChiamate* Chiamate = nullptr;

  KeyedCollection<clsLcr>& Lcrs() { return *lcrs_; }
  const KeyedCollection<clsLcr>& Lcrs() const { return *lcrs_; }
  // Carrier name -> interconnection prefix, for the carriers of the entries
  // whose prefix is not empty. Names compare exactly.
  std::map<std::string, std::string>& PrefissiCarrier() { return prefissi_; }
  const std::map<std::string, std::string>& PrefissiCarrier() const { return prefissi_; }

  // Starts a new table and dictionary; for ctPreload loads one entry per
  // CarrierSiti row of the site (in table order, until the engine's
  // CacheStopped), each from its carrier's tariff file. No rows is failure
  // 1035 under the engine's cache-error convention.
  // REQUIRES: Connection and Chiamate set.
  void Cache(CacheType tipo, SitoLcr& oSito);

  // Starts a new dictionary and adds one entry per tariff group of the
  // carrier file sFile: 00:00:00 to 23:59:59, line "All", priority 1, no
  // pulse charging, the group kind being the destination type most of the
  // group's members have. Throws ComponentError 111 ("Valmer Processor")
  // when the file does not exist, and the layer's error when it cannot be
  // read.
  void CacheFromMdb(const std::string& sFile, SitoLcr& oSito);

  // Creates one entry, loads its destinations and tariffs (from `carrier`,
  // an open carrier file, or when null from the file table Carrier names)
  // and adds it under its key; an entry whose key is present is dropped.
  void AddLcr(const std::string& sCarrier, SitoLcr& oSito, const std::string& sGruppo, DateTime dDalle,
              DateTime dAlle, const std::string& sLinea, bool bScatti, Money cCostoScatto, std::int16_t iPriorita,
              const std::string& sTipoGruppo, rdo::RdoConnection* carrier);

 private:
  std::shared_ptr<KeyedCollection<clsLcr>> lcrs_;
  std::map<std::string, std::string> prefissi_;
};

// The priority column as the LCR table reads it: its text taken as a number
// (leading blanks skipped, the longest numeric prefix, 0 when none) and
// rounded to a whole number, halves to even. Throws ComponentError 6 outside
// the 16-bit range.
std::int16_t ParsePriorita(const std::string& text);

}  // namespace ordalis
