#pragma once
// clsValute: the currencies of table Valute, found by code or by name.
#include <memory>
#include <string_view>

#include "ordalis/Export.h"
#include "ordalis/KeyedCollection.h"
#include "ordalis/clsValuta.h"

namespace ordalis {

namespace rdo {
class RdoConnection;
}
class clsChiamate;

class ORDALIS_API clsValute {
 public:
  using Collection = KeyedCollection<clsValuta>;

  clsValute();
  explicit clsValute(clsChiamate* engine, rdo::RdoConnection* connection = nullptr);
  ~clsValute();

  // The engine database the table is read from (not owned).
  rdo::RdoConnection* Connection = nullptr;
  // The engine (back-reference, not owned).
  clsChiamate* Chiamate = nullptr;

  const Collection& Valute() const { return *valute_; }
  // Replaces the collection (null gives an empty one).
  void set_Valute(std::shared_ptr<Collection> valute);

  // The first currency in load order whose Codice (GetValuta) or Nome
  // (GetValutaByName) equals the text exactly, letter case included; null
  // when there is none.
  std::shared_ptr<clsValuta> GetValuta(std::string_view vsCodiceValuta) const;
  std::shared_ptr<clsValuta> GetValutaByName(std::string_view vsNomeValuta) const;

  // Loads every row of Valute, keyed by sCodice (a repeated code keeps the
  // first currency). REQUIRES: Connection and Chiamate set. Throws
  // ComponentError 13 (type mismatch) when iNumeroDecimali or
  // dblRapportoDiCambio is NULL or not a number, 6 when the decimals are out
  // of 16-bit range; the currencies read before the failing row stay loaded.
  void Cache();

 private:
  std::shared_ptr<Collection> valute_;
};

}  // namespace ordalis
