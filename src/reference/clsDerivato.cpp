#include "reference/clsDerivato.h"

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "data/SqlQuote.h"

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
