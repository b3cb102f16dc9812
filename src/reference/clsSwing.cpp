#include "reference/clsSwing.h"

#include "reference/clsNominativo.h"

namespace ordalis {

void clsSwing::RegistraChiamata(const DatiChiamata& c, bool nuovo) {
  // Computed on copies so that an overflow leaves the swing as it was.
  Money costo = CostoConversazioni;
  DateTime minuti = MinutiConversazione;
  std::int32_t chiamate = c.uscente ? NumeroChiamateO : NumeroChiamateI;
  if (c.annulla) {
    costo -= c.cCostoPrecedente;
    minuti -= c.dDurata;
    chiamate = SommaContatore(chiamate, -1);
  }
  costo += c.cCosto;
  chiamate = nuovo ? 1 : SommaContatore(chiamate, 1);

  DateTime& data = c.uscente ? DataUltimaChiamataO : DataUltimaChiamataI;
  DateTime& ora = c.uscente ? OraUltimaChiamataO : OraUltimaChiamataI;
  const bool ultima = !c.per_data || nuovo || (NonPrecedente(c.dData, c.dOra, DataUltimaChiamataO, OraUltimaChiamataO) &&
                                               NonPrecedente(c.dData, c.dOra, DataUltimaChiamataI, OraUltimaChiamataI));
  if (!c.per_data || NonPrecedente(c.dData, c.dOra, data, ora)) ora = c.dOra;
  if (data < c.dData) data = c.dData;
  (c.uscente ? NumeroChiamateO : NumeroChiamateI) = chiamate;
  CostoConversazioni = costo;
  MinutiConversazione = minuti + c.dDurata;
  Nome.clear();
  Numero = c.sNumero;
  if (ultima) {
    Sito = c.sSito;
    Derivato = c.sDerivato;
  }
  Status = stIndividuato;
  Videotel = true;
}

}  // namespace ordalis
