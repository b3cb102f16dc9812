// Rating steps of the call record. Each identification runs at most once per
// call and leaves its outcome in a status; a step whose reference data is not
// loaded leaves its fields as loaded.
#include <cctype>

#include "call/clsChiamata.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"
#include "support/StringTable.h"

namespace ordalis {

void clsChiamata::CalcDate() {
  // Without a site time zone the exchange's stamp is the gateway time and the
  // local time of both parties.
  dGatewayTime = dData + dOra;
  local_time_ = dGatewayTime;
  local_time2_ = 0;
  if (IsType("E")) {
    local_time2_ = local_time_;
    dData2 = dt::DatePart(local_time2_);
    dOra2 = dt::TimePart(local_time2_);
  }
}

void clsChiamata::UseGatewayTime() {
  dData = dt::DatePart(dGatewayTime);
  dOra = dt::TimePart(dGatewayTime);
}

void clsChiamata::SetDateTimeFields() {
  dData = dt::DatePart(local_time_);
  dOra = dt::TimePart(local_time_);
  if (local_time2_ > 0) {
    dData2 = dt::DatePart(local_time2_);
    dOra2 = dt::TimePart(local_time2_);
  }
}

void clsChiamata::CalcGiorno() {
  WriteDetailLog("CalcGiorno: " + dt::ToText(dData));
  sGiorno_c = LoadResString(20803 + dt::Weekday(dData));
}

// The steps below need the sites, extensions, LCR tables and tariffs; until
// those caches are part of the engine they leave the fields as loaded.
void clsChiamata::CalcFascia() {}
void clsChiamata::CalcTariffa() {}
void clsChiamata::CalcCosto(TipoCosto) {}
void clsChiamata::CalcCarrier1() {}
void clsChiamata::CalcCarrier2() {}
void clsChiamata::CalcReparto() {}
void clsChiamata::CalcSedefisica() {}
void clsChiamata::CalcCentroDiCosto() {}
void clsChiamata::CalcNomeDerivato() {}
void clsChiamata::CalcTipoDest() {}
void clsChiamata::CalcNome() {}
void clsChiamata::CalcNazione() {}
void clsChiamata::CalcArea() {}
void clsChiamata::CalcCommessa() {}
void clsChiamata::CalcDaScartare() {}

}  // namespace ordalis
