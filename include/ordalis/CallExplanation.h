#pragma once
// Why a call costs what it costs: the call rated by the engine's own steps
// with a RatingTrace attached, so that each decision is recorded as it is
// taken. An explanation writes nothing to the database: an unknown
// extension is not added (the call is rated as one of an unknown
// extension) and the phone-book and swing statistics are not counted.
#include <cstdint>

#include "ordalis/Export.h"
#include "ordalis/RatingTrace.h"

namespace ordalis {

class clsChiamate;

// The section of the closing step, whose figures are the fields the rating
// computed (cCosto1_c, sCarrier1_c, sTipoDestinazione_c, ...).
inline constexpr char kTraceResult[] = "result";

// Rates the call the mirror properties describe, as Run does, into `trace`.
// REQUIRES: Init done. Throws ComponentError with Run's error (Errore).
ORDALIS_API void ExplainCall(clsChiamate& engine, RatingTrace& trace);

// Loads call `id` (lPKId) of CHIAMATE and rates it as the batch run does,
// without saving it, into `trace`. REQUIRES: Init done.
// Throws ComponentError 5 when there is no such call, and any error of the
// loading or the rating.
ORDALIS_API void ExplainStoredCall(clsChiamate& engine, std::int32_t id, RatingTrace& trace);

}  // namespace ordalis
