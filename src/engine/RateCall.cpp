#include "ordalis/RateCall.h"

#include "call/clsChiamata.h"
#include "ordalis/EngineEvents.h"
#include "ordalis/clsChiamate.h"

namespace ordalis {
namespace {

// Passes every event on to the host's sink and keeps the warnings.
class WarningCollector final : public EngineEvents {
 public:
  WarningCollector(EngineEvents& next, std::vector<std::string>& warnings) : next_(next), warnings_(warnings) {}
  void ProgressChange(std::int32_t& done, std::int32_t& total) override { next_.ProgressChange(done, total); }
  void Done() override { next_.Done(); }
  void CacheStart(std::int32_t& total) override { next_.CacheStart(total); }
  void CacheDone() override { next_.CacheDone(); }
  void SaveDataError(std::int16_t& attempt, std::string& desc, std::int16_t& code) override {
    next_.SaveDataError(attempt, desc, code);
  }
  void CacheChange(std::int32_t& done, std::int32_t& total, std::string& what) override {
    next_.CacheChange(done, total, what);
  }
  void Warning(const std::string& text) override {
    warnings_.push_back(text);
    next_.Warning(text);
  }
  void MessageBox(const std::string& title, const std::string& text) override { next_.MessageBox(title, text); }

 private:
  EngineEvents& next_;
  std::vector<std::string>& warnings_;
};

// Seconds since 1899-12-30 of a local time (the engine's date-time origin).
std::int64_t EngineSeconds(std::chrono::local_seconds t) {
  using namespace std::chrono;
  constexpr local_days kOrigin = local_days(year{1899} / December / 30);
  return duration_cast<seconds>(t - kOrigin).count();
}

}  // namespace

RatedCall RateCall(clsChiamate& engine, const CallToRate& call) {
  RatedCall out;
  if (!engine.HasChiamata()) {
    out.error = "the engine is not initialised (Init has not connected it)";
    return out;
  }
  if (call.duration.count() < 0 || call.answer_delay.count() < 0) {
    out.error = "a duration cannot be negative";
    return out;
  }
  clsChiamata& c = engine.Chiamata();
  try {
    DateTime start = dt::FromSeconds(EngineSeconds(call.start));
    c.dData = dt::DatePart(start);
    c.dOra = dt::TimePart(start);
    c.dDurata = dt::FromSeconds(call.duration.count());
    c.dRisposta = dt::FromSeconds(call.answer_delay.count());
  } catch (const ComponentError& e) {
    out.error = "the start is outside the years the engine handles: " + e.Description();
    return out;
  }
  c.set_sSito(call.site);
  c.sDerivato = call.extension;
  c.sNumero = call.number;
  c.sTipo = call.type;
  c.sLinea = call.line;
  c.lScatti = call.pulses;

  EngineEvents& host_events = engine.Events();
  WarningCollector collector(host_events, out.warnings);
  engine.SetEvents(&collector);
  engine.set_Errore("");
  engine.Run();
  engine.SetEvents(&host_events);

  out.error = engine.Errore();
  out.chargeable = c.sEsitoChiamata_c == "1";
  out.cost = c.cCosto1_c;
  out.cost_alternative = c.cCosto2_c;
  out.difference = c.cDifferenza_c;
  out.price_per_minute = c.cTariffa_c;
  out.currency = c.sValuta;
  out.carrier = c.sCarrier1_c;
  out.carrier_alternative = c.sCarrier2_c;
  out.destination_type = c.sTipoDestinazione_c;
  out.country = c.sNazione_c;
  out.area = c.sArea_c;
  out.destination_group = c.sNomeGruppo;
  out.other_party = c.sNome_c;
  out.extension_name = c.sNomeDerivato_c;
  out.department = c.sReparto_c;
  out.cost_centre = c.sCentroDiCosto_c;
  out.day = c.sGiorno_c;
  out.time_band = c.sFasciaOraria_c;
  return out;
}

}  // namespace ordalis
