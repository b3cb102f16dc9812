#include "reference/clsSito.h"

#include "data/QueryFirstValue.h"
#include "data/RdoConnection.h"
#include "data/RdoEnvironment.h"
#include "reference/clsCalendario.h"
#include "tariffs/SitoLcr.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"

namespace ordalis {

clsSito::clsSito() = default;
clsSito::~clsSito() = default;

void clsSito::Cache() {
  lcrs_ = std::make_shared<clsLcrs>(Chiamate, Database);
  SitoLcr sito{Codice, PrefNaz, PrefArea, &Destinazione};
  lcrs_->Cache(ctPreload, sito);

  Calendario = std::make_shared<clsCalendario>(Chiamate, Database);
  Calendario->Cache(ctPreload, DescrNaz);

  CacheCarrierConfronto();
}

void clsSito::CacheCarrierConfronto() {
  if (Carrier2.empty()) return;
  lcrs_carrier2_ = std::make_shared<clsLcrs>(Chiamate, Database);
  SitoLcr sito{Codice, PrefNaz, PrefArea, &Destinazione};
  lcrs_carrier2_->CacheFromMdb(Carrier2, sito);
  // Every entry of a reference carrier's table carries the name the file
  // holds; a file without tariff groups gives no entry, so the name is then
  // read from the file itself.
  if (!lcrs_carrier2_->Lcrs().Empty()) {
    carrier2_name_ = lcrs_carrier2_->Lcrs().Item(1)->Carrier;
    return;
  }
  auto file = rdo::RdoEnvironment::Default().OpenConnection(Carrier2, false, false, rdo::FileConnectString(Carrier2));
  carrier2_name_ = QueryFirstValue("Select NomeCarrier from Carrier", *file);
  file->Close();
}

}  // namespace ordalis
