// What a run leaves unpriced: the tally of a batch run per call table and
// the reason a single call's cost is 0.
#include "call/clsChiamata.h"
#include "engine/EngineState.h"
#include "ordalis/clsChiamate.h"
#include "reference/clsDerivato.h"
#include "reference/clsSito.h"

namespace ordalis {
namespace {

bool Outgoing(const clsChiamata& c) { return EqualsNoCase(c.sTipo, "O"); }
bool SiteKnown(const clsChiamata& c) { return c.Sito && c.Sito->Status == stIndividuato; }

}  // namespace

void clsChiamate::TallyRatedCall(const clsChiamata& c, bool internal, bool costed) {
  RunTally& t = impl_->tally[internal ? 1 : 0];
  ++t.rated;
  // A look-up that found nothing leaves its status "to be identified" on
  // the record; the objects it looked at say what it found.
  if (!c.Sito || c.Sito->Status == stDaIndividuare) return;  // the run's steps never asked
  if (c.Sito->Status != stIndividuato) {
    ++t.unknown_site;
    return;
  }
  if (c.StatoDerivato != stDaIndividuare && c.Derivato && c.Derivato->Status != stIndividuato) ++t.unknown_extension;
  if (costed && !internal && Outgoing(c) && c.StatoTariffa1 != stIndividuato) ++t.no_tariff;
}

const std::array<clsChiamate::RunTally, 2>& clsChiamate::LastRunTally() const { return impl_->tally; }

std::string clsChiamate::ZeroCostReason(TipoCosto tipo) const {
  const clsChiamata& c = *mo_chiamata_;
  const Money cost = tipo == tcCosto1 ? c.cCosto1_c : tipo == tcCosto2 ? c.cCosto2_c : c.cCosto3_c;
  if (cost != Money()) return {};
  if (!Outgoing(c)) return "only outgoing calls (type O) have a cost; this one is of type \"" + c.sTipo + "\"";
  if (!SiteKnown(c)) return "site \"" + c.sSito() + "\" is not in the sites table";
  const Stato tariff = tipo == tcCosto1 ? c.StatoTariffa1 : tipo == tcCosto2 ? c.StatoTariffa2 : c.StatoTariffa3;
  if (tariff != stIndividuato) {
    const char* whose = tipo == tcCosto1   ? "the site's least-cost carriers"
                        : tipo == tcCosto2 ? "the site's reference carrier"
                                           : "this carrier";
    return std::string("no tariff of ") + whose + " applies to number \"" + c.sNumero +
           "\" (no destination of theirs matches it, or no tariff covers the call's day type, time or distance)";
  }
  if (c.Derivato && c.Derivato->Status != stIndividuato)
    return "extension \"" + c.sDerivato + "\" is not known at site " + c.sSito() +
           " (and is not added automatically): an unknown extension's calls cost 0";
  if (dt::DurationSeconds(c.dDurata) <= 0) return "the call has no duration";
  return {};
}

}  // namespace ordalis
