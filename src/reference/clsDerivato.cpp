#include "reference/clsDerivato.h"

#include "engine/rdo/RdoConnection.h"
#include "engine/rdo/RdoResultset.h"
#include "engine/rdo/SqlQuote.h"

namespace ordalis {

void clsDerivato::GetInfoDerivato() {
  if (Status != stDaIndividuare) return;
  auto rs = Database->OpenResultset("SELECT * FROM Derivati WHERE sNumero=" + rdo::SqlQuote(Numero) +
                                    " AND sSito=" + rdo::SqlQuote(Sito));
  if (rs->Eof()) {
    Nome.clear();
    Reparto.clear();
    CentroDiCosto.clear();
    Status = stNonIndividuato;
  } else {
    Nome = rs->Value("sNome").ToText();
    Reparto = rs->Value("sReparto").ToText();
    CentroDiCosto = rs->Value("sCentroDiCosto").ToText();
    Status = stIndividuato;
  }
  rs->Close();
}

}  // namespace ordalis
