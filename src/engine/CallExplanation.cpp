#include "ordalis/CallExplanation.h"

#include <string>

#include "call/clsChiamata.h"
#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "engine/BatchSteps.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "support/RegistryLib.h"

namespace ordalis {
namespace {

constexpr char kDefaultOperation[] = "11111111111111110111";

// Attaches a trace to a call record for a scope.
class Tracing {
 public:
  Tracing(clsChiamata& call, RatingTrace& trace) : call_(call) { call_.Trace = &trace; }
  ~Tracing() { call_.Trace = nullptr; }
  Tracing(const Tracing&) = delete;
  Tracing& operator=(const Tracing&) = delete;

 private:
  clsChiamata& call_;
};

void AddResult(const clsChiamata& c, RatingTrace& trace) {
  trace.Add({kTraceResult, "call", "rated", "",
             {{"sGiorno_c", Variant(c.sGiorno_c)},
              {"sFasciaOraria_c", Variant(c.sFasciaOraria_c)},
              {"cTariffa_c", Variant(c.cTariffa_c)},
              {"cCosto1_c", Variant(c.cCosto1_c)},
              {"cCosto2_c", Variant(c.cCosto2_c)},
              {"cDifferenza_c", Variant(c.cDifferenza_c)},
              {"sCarrier1_c", Variant(c.sCarrier1_c)},
              {"sCarrier2_c", Variant(c.sCarrier2_c)},
              {"sNomeGruppo", Variant(c.sNomeGruppo)},
              {"sTipoDestinazione_c", Variant(c.sTipoDestinazione_c)},
              {"sNazione_c", Variant(c.sNazione_c)},
              {"sArea_c", Variant(c.sArea_c)},
              {"sEsitoChiamata_c", Variant(c.sEsitoChiamata_c)},
              {"sValuta", Variant(c.sValuta)},
              {"dData", Variant::FromDate(c.dData)},
              {"dOra", Variant::FromDate(c.dOra)}}});
}

}  // namespace

void ExplainCall(clsChiamate& engine, RatingTrace& trace) {
  clsChiamata& call = engine.Chiamata();
  engine.set_Errore("");
  {
    const Tracing tracing(call, trace);
    engine.Run();
  }
  if (!engine.Errore().empty()) throw ComponentError(kErrInvalidCall, engine.Errore(), "ExplainCall");
  AddResult(call, trace);
}

void ExplainStoredCall(clsChiamate& engine, std::int32_t id, RatingTrace& trace) {
  rdo::RdoConnection* connection = engine.Connection();
  if (!connection || !connection->IsOpen())
    throw ComponentError(kErrInvalidCall, "The engine has no open connection", "ExplainStoredCall");
  const std::string key = std::to_string(id);
  auto rs = connection->OpenResultset("SELECT * FROM CHIAMATE WHERE lPKId = ?", {key});
  if (rs->Eof())
    throw ComponentError(kErrInvalidCall, "There is no call " + key + " in CHIAMATE", "ExplainStoredCall");
  clsChiamata call;
  call.Chiamate = &engine;
  call.OemDirectory = OemKeyExists() && IsOem(kOemKelmora);
  {
    const RowsOf rows(call, rs.get());
    call.Load();
  }
  rs->Close();
  bool mask[kMaskSize];
  BuildMask(kDefaultOperation, mask);
  const Tracing tracing(call, trace);
  RateLoadedCall(engine, call, mask, false);
  AddResult(call, trace);
}

}  // namespace ordalis
