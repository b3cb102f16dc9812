// Rating steps of the call record: times and day, identification of site,
// extensions, account and tariffs (the least-cost search), costs, derived
// fields and the name of the other party.
//
// Identification results are shared references into the engine's caches;
// an identification runs once per call and records its outcome in a status.
// Trace text is built only while logging is on.
#include <cctype>
#include <cmath>
#include <optional>

#include "call/Arrotonda.h"
#include "call/CalcDistanza.h"
#include "call/CallNote.h"
#include "call/LcrSearch.h"
#include "call/TimeCost.h"
#include "call/clsChiamata.h"
#include "data/RdoResultset.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsNumeroTel.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DirectoryLookup.h"
#include "ordalis/RatingTrace.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/clsTimeZone.h"
#include "ordalis/clsTimeZones.h"
#include "ordalis/clsValuta.h"
#include "ordalis/clsValute.h"
#include "reference/clsCalendario.h"
#include "reference/clsCommessa.h"
#include "reference/clsCommesse.h"
#include "reference/clsDerivati.h"
#include "reference/clsDerivato.h"
#include "reference/clsGiorno.h"
#include "reference/clsNominativi.h"
#include "reference/clsNominativo.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "reference/clsSwing.h"
#include "reference/clsSwings.h"
#include "support/CommonLib.h"
#include "support/RegistryLib.h"
#include "support/StringTable.h"
#include "support/Text.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {

void clsChiamata::Warn(const std::string& text) { Chiamate->SendWarningMsg(text); }

// ---------------------------------------------------------------- site, extensions, account

void clsChiamata::IndividuaSito() {
  if (!Sito) Sito = std::make_shared<clsSito>();
  if (StatoSito == stDaIndividuare) Sito->Status = stDaIndividuare;
  if (Sito->Status == stDaIndividuare) {
    WriteDetailLog("IndividuaSito");
    std::shared_ptr<clsSito> found = Chiamate->Siti ? Chiamate->Siti->GetSito(s_sito_) : nullptr;
    if (!found) {
      Sito = std::make_shared<clsSito>();
      Sito->Status = stNonIndividuato;
    } else {
      Sito = std::move(found);
      Sito->Status = stIndividuato;
      StatoSito = stIndividuato;
    }
    if (Trace) ExplainSite();
  }
  if (Sito->Status == stNonIndividuato) Warn(LoadResString(20606) + s_sito_);
}

void clsChiamata::ExplainSite() {
  if (Sito->Status != stIndividuato) {
    Trace->Add({trace::kSite, "site " + s_sito_, "not found", "no site has this code", {}});
    return;
  }
  Trace->Add({trace::kSite, "site " + s_sito_, "found", "",
              {{"name", Variant(Sito->Nome)},
               {"time zone", Variant(Sito->IDTimeZone)},
               {"currency", Variant(Sito->Valuta)},
               {"national prefix", Variant(Sito->PrefNaz)},
               {"international prefix", Variant(Sito->PrefInternazionale)}}});
}

void clsChiamata::ExplainExtension(const std::string& number, const clsDerivato& found, bool second) {
  const std::string subject = (second ? "other extension " : "extension ") + number;
  if (found.Status != stIndividuato) {
    Trace->Add({trace::kSite, subject, "not found",
                "no extension has this number at site " + (Sito->DerivatiPerTutteLeSedi ? std::string("*") : Sito->Codice),
                {}});
    return;
  }
  Trace->Add({trace::kSite, subject, "found", "",
              {{"name", Variant(found.Nome)},
               {"department", Variant(found.Reparto)},
               {"cost centre", Variant(found.CentroDiCosto)},
               {"markup %", Variant(found.Ricarico)},
               {"time zone", Variant(found.IDTimeZone)}}});
}

void clsChiamata::IdentifyExtension(const std::string& number, std::shared_ptr<clsDerivato>& target, Stato& status,
                                    std::int16_t no_insert, bool second) {
  if (LogEnabled()) WriteDetailLog((second ? "Individua derivato2 " : "Individua derivato ") + number);
  if (!placeholder_) {
    placeholder_ = std::make_shared<clsDerivato>();
    placeholder_->Status = stNonIndividuato;
  }
  if (!target) target = placeholder_;
  if (status == stDaIndividuare) {
    if (!Sito || Sito->Status == stDaIndividuare) {
      IndividuaSito();
      if (Sito->Status != stIndividuato) {
        if (!second) WriteDetailLog("moSito.Status <> stIndividuato");
        return;
      }
    }
    if (Sito->Status != stIndividuato) {
      target = placeholder_;
      status = stNonIndividuato;
    } else {
      std::shared_ptr<clsDerivato> found;
      if (Chiamate->Derivati)
        found = Chiamate->Derivati->Derivati().Find(
            clsDerivati::MakeKey(number, Sito->DerivatiPerTutteLeSedi ? "*" : Sito->Codice));
      if (found) {
        target = std::move(found);
        target->Status = stIndividuato;
        status = stIndividuato;
      } else {
        target = placeholder_;
        status = stNonIndividuato;
      }
      if (Trace) ExplainExtension(number, *target, second);
    }
  }
  // Automatic insertion of an extension the table does not know yet.
  if (target->Status == stNonIndividuato && no_insert == 0 && Sito && Sito->Status == stIndividuato &&
      Sito->AggiuntaAutomaticaDerivati && Chiamate->Derivati) {
    if (Trace) {
      if (!Trace->Find(trace::kSite, "not added"))
        Trace->Add({trace::kSite, (second ? "other extension " : "extension ") + number, "not added",
                  "the site adds unknown extensions automatically, but an explanation writes nothing: it is "
                  "rated as unknown",
                  {}});
      return;
    }
    std::string site = Sito->Codice;
    std::shared_ptr<clsDerivato> added = target;
    if (Chiamate->Derivati->InserimentoAutomaticoDerivato(number, site, added, Sito->DerivatiPerTutteLeSedi)) {
      target = std::move(added);
      target->Status = stIndividuato;
      if (LogEnabled()) WriteDetailLog("\tInserito derivato " + Sito->Codice + "-" + number);
    } else if (number.empty()) {
      Warn(LoadResString(20604) + std::to_string(pk_id_));
    } else {
      Warn(LoadResString(20602) + number + "-" + Sito->Codice);
    }
  }
}

void clsChiamata::IndividuaDerivato(std::int16_t no_insert) {
  IdentifyExtension(sDerivato, Derivato, StatoDerivato, no_insert, false);
}

void clsChiamata::IndividuaDerivato2(std::int16_t no_insert) {
  IdentifyExtension(sNumero, derivato2_, StatoDerivato2, no_insert, true);
}

void clsChiamata::IndividuaCommessa() {
  if (!commessa_placeholder_) commessa_placeholder_ = std::make_shared<clsCommessa>();
  if (!commessa_) commessa_ = commessa_placeholder_;
  commessa_->Status = stDaIndividuare;
  if (!Sito || Sito->Status == stDaIndividuare) IndividuaSito();
  if (Sito->Status != stIndividuato) {
    commessa_ = commessa_placeholder_;
    commessa_->Status = stNonIndividuato;
  } else {
    std::shared_ptr<clsCommessa> found = Chiamate->Commesse ? Chiamate->Commesse->GetCommessa(sCommessa, s_sito_) : nullptr;
    if (found) {
      commessa_ = std::move(found);
      commessa_->Status = stIndividuato;
    } else {
      commessa_ = commessa_placeholder_;
      commessa_->Status = stNonIndividuato;
    }
  }
  if (commessa_->Status == stNonIndividuato && !sCommessa.empty())
    Warn(LoadResString(20605) + sCommessa + " - " + s_sito_);
}

// ---------------------------------------------------------------- least-cost search

void clsChiamata::IndividuaTariffa1() {
  WriteDetailLog("Inizio IndividuaTariffa1");
  IndividuaSito();
  static const std::shared_ptr<clsLcrs> kNone = std::make_shared<clsLcrs>();
  IndividuaTariffaLcr(StatoTariffa1, Sito->Status == stIndividuato && Sito->Lcrs() ? Sito->Lcrs() : kNone, false);
  WriteDetailLog("Fine IndividuaTariffa1");
}

void clsChiamata::IndividuaTariffa2() {
  WriteDetailLog("inizio IndividuaTariffa2");
  if (Sito && Sito->LcrsCarrier2())
    IndividuaTariffaLcr(StatoTariffa2, Sito->LcrsCarrier2(), true);
  else {
    WriteDetailLog("LCR Carrier 2 non disponibile");
    if (Trace) Trace->Add({trace::kSearch2, "LCR table", "not found", "the site has no alternative carrier", {}});
  }
  WriteDetailLog("fine IndividuaTariffa2");
}

void clsChiamata::IndividuaTariffaLcr(Stato& status, const std::shared_ptr<clsLcrs>& lcrs, bool carrier2) {
  const bool log = LogEnabled();
  if (log) WriteDetailLog(std::string("Individia tariffa (") + (carrier2 ? "True" : "False") + ")");
  IndividuaSito();
  if (Sito->Status != stIndividuato) {
    if (Trace)
      Trace->Add({carrier2 ? trace::kSearch2 : trace::kSearch1, "site " + s_sito_, "not found",
                  "without a site there is no LCR table to search", {}});
    status = stNonIndividuato;
    Warn(LoadResString(20607) + sNumero + LoadResString(20608) + dt::ToText(dData) + " - " + dt::ToText(dOra) +
         " - " + dt::ToText(dDurata) + " - " + s_sito_ + " - " + sDerivato);
    return;
  }
  LcrQuestion& q = question_;
  q.site = Sito;
  q.lcrs = lcrs;
  q.number = sNumero;
  q.line = sLinea;
  q.day = dt::ToSeconds(dt::DatePart(dData));
  q.time = dt::SecondOfDay(dOra);
  q.day_type = DayType(Sito->Calendario.get());
  q.carrier2 = carrier2;
  // An explanation searches for itself, but tells a search asked again
  // with the same question (after the tariff-2 search) in one line.
  const LcrAnswer* answer = nullptr;
  if (!log && !Trace) answer = KnownAnswer(q);
  if (!log && Trace && !carrier2 && last_question_ == q) {
    answer = &last_answer_;
    Trace->Add({trace::kSearch1, "number " + sNumero, "searched again", "the same question: the answer above stands",
                {}});
  }
  if (!answer) {
    const LcrTrace trace = [](const std::string& line) { WriteDetailLog(line); };
    SearchLcr(q, searched_, log ? &trace : nullptr, Trace, carrier2 ? trace::kSearch2 : trace::kSearch1);
    answer = &searched_;
    if (!carrier2) {
      last_question_ = q;
      last_answer_ = searched_;
    }
  }

  Numero = std::make_shared<clsNumeroTel>();
  Numero->Numero = answer->number;
  Numero->Status = stDaIndividuare;
  if (answer->tariff) {
    status = stIndividuato;
    if (carrier2) {
      Tariffa2 = answer->tariff;
    } else {
      TempoComp = static_cast<double>(answer->tariff->TempoComposizione) / dt::kSecondsPerDay;
      tariffa1_ = answer->tariff;
      Numero->Status = stIndividuato;
      Numero->Destinazione = answer->destination;
      scatti1_ = answer->pulses;
      costo_scatto1_ = answer->pulse_price;
      sNomeGruppo = answer->group;
    }
  }
  if (!carrier2 && log) {
    std::string line = "Call: " + std::to_string(pk_id_) + " - " + dt::ToText(dData) + " " + dt::ToText(dOra) + " " +
                       sNumero + " TIPOGG " + std::to_string(q.day_type);
    if (answer->found_lcr) line += " - LCR";
    if (answer->found_destination) line += " - DEST";
    if (answer->tariff) line += " - TARIF - " + answer->kept;
    AppendLogLine(kProcessLogFile, line);
  }
}

const LcrAnswer* clsChiamata::KnownAnswer(const LcrQuestion& q) const {
  if (const auto* note = dynamic_cast<const CallNote*>(rdoResultset ? rdoResultset->Note() : nullptr)) {
    const int k = q.carrier2 ? 1 : 0;
    for (const CallNote::Search* ahead : {&note->search[k], &note->masked[k]})
      if (ahead->asked && ahead->question == q) return &ahead->answer;
  }
  if (!q.carrier2 && last_question_ == q) return &last_answer_;
  return nullptr;
}

std::int16_t clsChiamata::DayType(const clsCalendario* calendar) {
  if (!calendar) return 0;
  const std::int64_t serial = dt::DaySerial(dData);
  const std::uint64_t slot = static_cast<std::uint64_t>(serial) * 31 + reinterpret_cast<std::uintptr_t>(calendar) / 64;
  DayTypeMemo& memo = day_types_[slot % day_types_.size()];
  if (memo.calendar != calendar || memo.serial != serial) memo = {calendar, serial, DayTypeOf(calendar, dData)};
  return memo.type;
}

void clsChiamata::ResetIdentification() {
  StatoTariffa1 = StatoTariffa2 = StatoNumero = stDaIndividuare;
  StatoSito = StatoDerivato = StatoDerivato2 = stDaIndividuare;
  Numero.reset();
}

void clsChiamata::ForgetMemos() {
  day_types_.fill(DayTypeMemo{});
  last_question_ = LcrQuestion();
}

// ---------------------------------------------------------------- date and time

void clsChiamata::CalcDate() {
  IndividuaSito();
  IndividuaDerivato(0);
  std::shared_ptr<clsTimeZone> site_zone, caller_zone, second_zone;
  clsTimeZones* zones = Chiamate->moTimeZones.get();
  if (zones && Sito->Status == stIndividuato) {
    site_zone = zones->GetTimeZone(Sito->IDTimeZone);
    caller_zone = Derivato && !Derivato->IDTimeZone.empty() ? zones->GetTimeZone(Derivato->IDTimeZone) : site_zone;
  }
  const bool internal = IsType("E");
  if (!internal) {
    local_time2_ = 0;
  } else {
    IndividuaDerivato2(0);
    if (zones && Sito->Status == stIndividuato)
      second_zone = derivato2_ && !derivato2_->IDTimeZone.empty() ? zones->GetTimeZone(derivato2_->IDTimeZone)
                                                                  : site_zone;
  }
  // dData and dOra as one value, as they stand: once realigned on the
  // gateway clock, the caller's local time without a zone of its own is
  // the realigned one. Built from whole days and seconds, since before
  // 1899-12-30 adding the time fraction would move the value the wrong way.
  auto stamp = [&] { return dt::FromSerialAndSeconds(dt::DaySerial(dData), dt::SecondOfDay(dOra)); };
  auto caller_local = [&] {
    local_time_ = (!caller_zone || dUTCTime == 0) ? stamp() : caller_zone->ConvertTimeFromUTC(dUTCTime);
  };
  auto second_local = [&] {
    local_time2_ = (!second_zone || dUTCTime == 0) ? local_time_ : second_zone->ConvertTimeFromUTC(dUTCTime);
  };
  const bool utc_given = dUTCTime != 0;
  if (dUTCTime == 0) {
    dGatewayTime = stamp();
    if (site_zone) dUTCTime = site_zone->ConvertTimeToUTC(dGatewayTime);
    caller_local();
    if (internal) {
      dData2 = dData;
      dOra2 = dOra;
      second_local();
    }
  } else {
    if (!site_zone) {
      dGatewayTime = stamp();
    } else {
      dGatewayTime = site_zone->ConvertTimeFromUTC(dUTCTime);
      if (dt::ToSeconds(dGatewayTime) != dt::ToSeconds(stamp())) {
        dData = dt::DatePart(dGatewayTime);
        dOra = dt::TimePart(dGatewayTime);
      }
    }
    caller_local();
    if (internal) {
      second_local();
      dData2 = dt::DatePart(local_time2_);
      dOra2 = dt::TimePart(local_time2_);
    }
  }
  if (Trace)
    ExplainTimes(site_zone ? Sito->IDTimeZone : std::string(),
                 caller_zone ? (Derivato && !Derivato->IDTimeZone.empty() ? Derivato->IDTimeZone : Sito->IDTimeZone)
                             : std::string(),
                 utc_given);
}

void clsChiamata::ExplainTimes(const std::string& site_zone, const std::string& caller_zone, bool utc_given) {
  Trace->Add({trace::kTimes, "call time", "settled",
              utc_given ? "the exchange gave a UTC stamp: the site's and the caller's times come from it"
                        : "no UTC stamp: the exchange's time is the site's local time",
              {{"site zone", Variant(site_zone)},
               {"caller zone", Variant(caller_zone)},
               {"UTC", Variant::FromDate(dUTCTime)},
               {"site time", Variant::FromDate(dGatewayTime)},
               {"caller time", Variant::FromDate(local_time_)}}});
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
  if (LogEnabled()) WriteDetailLog("CalcGiorno: " + dt::ToText(dData));
  sGiorno_c = LoadResString(20803 + dt::Weekday(dData));
}

void clsChiamata::CalcFascia() {
  if (IsType("O")) {
    if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
    if (StatoTariffa1 == stIndividuato) {
      sFasciaOraria_c = tariffa1_->Fascia;
      return;
    }
  }
  sFasciaOraria_c.clear();
}

// ---------------------------------------------------------------- costs

void clsChiamata::CalcTariffa() {
  if (IsType("O")) {
    if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
    if (StatoTariffa1 == stIndividuato) {
      const auto* bands = tariffa1_->CostoMinutoIfAny();
      cTariffa_c = bands && bands->Count() > 0 ? bands->Item(1)->CostoMinuto : Money();
      return;
    }
  }
  cTariffa_c = Money();
}

void clsChiamata::CalcCosto(TipoCosto tipo, const std::shared_ptr<clsCarrier>& carrier) {
  Money cost;
  const char* section = tipo == tcCosto1 ? trace::kCost1 : tipo == tcCosto2 ? trace::kCost2 : "cost, compared carrier";
  auto explain = [&](std::string subject, const char* outcome, std::string reason,
                     std::vector<std::pair<std::string, Variant>> figures = {}) {
    Trace->Add({section, std::move(subject), outcome, std::move(reason), std::move(figures)});
  };
  auto store = [&] {
    if (tipo == tcCosto1) cCosto1_c = cost;
    else if (tipo == tcCosto2) cCosto2_c = cost;
    else cCosto3_c = cost;
    if (Trace) explain("cost", "result", "", {{"cost", Variant(cost)}});
  };
  if (!IsType("O")) {
    sEsitoChiamata_c = dDurata == 0 ? "0" : "1";
    if (Trace) explain("call", "not priced", "only outgoing calls are priced; this one is of type " + sTipo);
    store();
    return;
  }
  std::shared_ptr<clsTariffa> tariff;
  switch (tipo) {
    case tcCosto1:
      if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
      if (StatoTariffa1 == stIndividuato) tariff = tariffa1_;
      break;
    case tcCosto2:
      if (StatoTariffa2 == stDaIndividuare) IndividuaTariffa2();
      if (StatoTariffa2 == stIndividuato) tariff = Tariffa2;
      break;
    case tcCosto3:
      if (StatoTariffa3 == stDaIndividuare) IndividuaTariffa3(carrier);
      if (StatoTariffa3 == stIndividuato) tariff = Tariffa3;
      break;
  }
  if (!tariff) {
    WriteDetailLog("Costo 0 per assenza di carrier");
    if (Trace) explain("tariff", "not found", "without a tariff the cost is 0");
    store();
    return;
  }
  const bool pulses = tipo == tcCosto1 && scatti1_;
  if (Trace)
    explain("tariff " + tariff->Key, pulses ? "priced by pulses" : "priced by time", "",
            {{"carrier", Variant(tariff->Carrier)}, {"band", Variant(tariff->Fascia)}});
  IndividuaDerivato(static_cast<std::int16_t>(tipo));
  if (!pulses) {
    WriteDetailLog("Calcolo a Tempo");
    TimeCostResult r = CalcTimeCost(*tariff, dt::DurationSeconds(dDurata), iStato != 0, Trace, section);
    if (!r.chargeable) {
      if (tipo == tcCosto1) sEsitoChiamata_c = "0";
      WriteDetailLog("Costo a zero durata <= 0 e esito 0 se costo 1");
      store();
      return;
    }
    if (tipo == tcCosto1) {
      sEsitoChiamata_c = "1";
      CalcValuta();
      WriteDetailLog("Messo esito a 1 per costo1");
    }
    cost = r.cost;
    Chiamate->DoEvents();
  } else {
    WriteDetailLog("Calcolo a scatti");
    Money price = tipo == tcCosto1 ? costo_scatto1_ : Money();
    cost = Derivato->Status == stIndividuato ? price.MulDiv(lScatti, 1) : Money();
    if (Trace)
      explain("pulses", "charged",
              Derivato->Status == stIndividuato ? "" : "the extension is unknown: the pulses cost 0",
              {{"pulses", Variant(lScatti)}, {"price per pulse", Variant(price)}, {"cost", Variant(cost)}});
    if (lScatti < 1) {
      WriteDetailLog("Esito a 0 per mancanza scatti");
      sEsitoChiamata_c = "0";
    } else {
      WriteDetailLog("Esito a 1 per scatti presenti");
      sEsitoChiamata_c = "1";
      CalcValuta();
    }
    store();
    return;
  }
  if (Derivato->Status != stIndividuato) {
    WriteDetailLog("Costo a zero per mancanza di derivato");
    if (Trace) explain("extension " + sDerivato, "not found", "a call of an unknown extension costs 0");
    cost = Money();
    store();
    return;
  }
  const Money unmarked = cost;
  if (tipo == tcCosto1) cost = Money::FromDouble(cost.ToDouble() * (1 + Derivato->Ricarico.ToDouble() / 100));
  if (Trace)
    explain("markup", tipo == tcCosto1 ? "applied" : "not applied",
            tipo == tcCosto1 ? "the extension's markup" : "only the main cost is marked up",
            {{"cost", Variant(unmarked)}, {"markup %", Variant(Derivato->Ricarico)}, {"marked up", Variant(cost)}});
  if (LogEnabled()) WriteDetailLog("Costo calcolato con ricarico = " + Derivato->Ricarico.ToText());
  store();
}

// ---------------------------------------------------------------- derived fields

void clsChiamata::CalcCarrier1() {
  sCarrier1_c.clear();
  if (!IsType("O")) return;
  if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
  if (StatoTariffa1 == stIndividuato) sCarrier1_c = tariffa1_->Carrier;
}

void clsChiamata::CalcCarrier2() {
  sCarrier2_c.clear();
  if (!IsType("O")) return;
  IndividuaSito();
  sCarrier2_c = Sito->Carrier2Name();
}

void clsChiamata::CalcReparto() {
  sReparto_c = Derivato && Derivato->Status == stIndividuato ? Derivato->Reparto : std::string();
  CalcReparto2();
}
void clsChiamata::CalcReparto2() {
  sReparto2_c = IsType("E") && derivato2_ && derivato2_->Status == stIndividuato ? derivato2_->Reparto : std::string();
}
void clsChiamata::CalcCentroDiCosto() {
  sCentroDiCosto_c = Derivato && Derivato->Status == stIndividuato ? Derivato->CentroDiCosto : std::string();
  CalcCentroDiCosto2();
}
void clsChiamata::CalcCentroDiCosto2() {
  sCentroDiCosto2_c =
      IsType("E") && derivato2_ && derivato2_->Status == stIndividuato ? derivato2_->CentroDiCosto : std::string();
}
void clsChiamata::CalcSedefisica() {
  sSedeFisica = Derivato && Derivato->Status == stIndividuato ? Derivato->SedeFisica : std::string();
  CalcSedefisica2();
}
void clsChiamata::CalcSedefisica2() {
  sSedeFisica2 =
      IsType("E") && derivato2_ && derivato2_->Status == stIndividuato ? derivato2_->SedeFisica : std::string();
}

void clsChiamata::Mask(std::string& number, std::int16_t privacy) {
  if (number.empty() || privacy <= 0) return;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(privacy), number.size());
  number.replace(number.size() - n, n, n, '*');
}

void clsChiamata::CalcNomeDerivato() {
  if (!Derivato || Derivato->Status != stIndividuato) {
    sNomeDerivato_c.clear();
    return;
  }
  sNomeDerivato_c = Derivato->Nome;
  if (PrimoProc && !IsType("E")) Mask(sNumero, Derivato->Privacy);
}

void clsChiamata::CalcTipoDest() {
  if (IsType("E")) {
    sTipoDestinazione_c = LoadResString(23018);
    return;
  }
  if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
  if (StatoTariffa1 == stIndividuato && Numero && Numero->Status == stDaIndividuare) IndividuaTariffa1();
  sTipoDestinazione_c = StatoTariffa1 == stIndividuato && Numero && Numero->Status == stIndividuato
                            ? Numero->Destinazione->Tipo
                            : std::string();
}

void clsChiamata::CalcNazione() {
  sNazione_c.clear();
  if (IsType("E")) return;
  if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
  if (StatoTariffa1 == stIndividuato && Numero && Numero->Status == stDaIndividuare) IndividuaTariffa1();
  if (StatoTariffa1 == stIndividuato && Numero && Numero->Status == stIndividuato)
    sNazione_c = Numero->Destinazione->DescrNaz;
}

void clsChiamata::CalcArea() {
  sArea_c.clear();
  if (IsType("E")) return;
  if (StatoTariffa1 == stDaIndividuare) IndividuaTariffa1();
  if (StatoTariffa1 == stIndividuato && Numero && Numero->Status == stIndividuato)
    sArea_c = Numero->Destinazione->DescrArea;
}

void clsChiamata::CalcCommessa() {
  IndividuaSito();
  IndividuaCommessa();
  if (commessa_->Status != stIndividuato) return;
  sCommessa = commessa_->Descrizione;
  if (PrimoProc) Mask(sNumero, commessa_->Privacy);
}

void clsChiamata::CalcValuta() {
  if (IsType("E")) {
    sValuta.clear();
    sValutaRif.clear();
    dblRapportoCambio = 1;
    return;
  }
  IndividuaSito();
  const std::string& fallback = Chiamate->OpzioneValuta();
  sValuta = Sito->Valuta.empty() ? fallback : Sito->Valuta;
  std::shared_ptr<clsValuta> currency;
  if (Chiamate->Valute) {
    currency = Chiamate->Valute->GetValuta(sValuta);
    if (!currency) currency = Chiamate->Valute->GetValutaByName(sValuta);
  }
  if (currency) {
    dblRapportoCambio = currency->RapportoCambio;
    sValutaRif = currency->ValutaRif;
  } else {
    dblRapportoCambio = 1;
    sValutaRif = fallback;
  }
}

void clsChiamata::CalcDaScartare() {
  iDaScartare = 0;
  IndividuaSito();
  if (Sito->AggiuntaAutomaticaDerivati) return;
  Stato first = Derivato ? Derivato->Status : stDaIndividuare;
  Stato second = derivato2_ ? derivato2_->Status : stDaIndividuare;
  if (IsType("E")) {
    if (first == stNonIndividuato && second == stNonIndividuato) iDaScartare = 1;
    else if (first == stNonIndividuato && second == stIndividuato) iDaScartare = 3;
    else if (first == stIndividuato && second == stNonIndividuato) iDaScartare = 2;
  } else if (first == stNonIndividuato) {
    iDaScartare = 1;
  }
}

// ---------------------------------------------------------------- name of the other party

void clsChiamata::CalcNome() {
  if (IsType("E")) {
    IndividuaSito();
    IndividuaDerivato2(0);
    sNome_c = derivato2_ && derivato2_->Status == stIndividuato ? derivato2_->Nome : std::string();
    return;
  }
  IndividuaSito();
  IndividuaDerivato(0);
  // Without a number analysed for this call (the site was not identified,
  // or no step before this one ran the least-cost search) there is no name
  // to look for and no statistic to count.
  std::string number = Numero ? Numero->Numero : std::string();
  if (number.empty()) {
    sNome_c.clear();
    return;
  }
  if (LogEnabled()) WriteDetailLog("CalcNome:analizzo numero " + number);
  if (OemDirectory) {
    NomeDaDirectory(number);
    return;
  }
  NomeDaRubrica(number);
}

namespace {

// A phone-book or swing lookup under the step's error rule: raised as the
// component error under UsoRiproc, otherwise recorded in Errore with
// CacheStopped set; then the lookup has found nothing and the step goes on.
template <class Lookup>
auto Trapped(clsChiamate& engine, const char* context, Lookup lookup) -> decltype(lookup()) {
  try {
    return lookup();
  } catch (const ComponentError& e) {
    if (engine.UsoRiproc()) RaiseProcessorError(context + e.Description());
    engine.set_Errore(e.Description());
    engine.set_CacheStopped(true);
    return nullptr;
  }
}

}  // namespace

void clsChiamata::NomeDaRubrica(const std::string& number) {
  const bool undo = !PrimoProc && !NoUndo;
  const bool outgoing = IsType("O");
  std::shared_ptr<clsNominativo> entry;
  sNome_c.clear();
  if (Chiamate->Nominativi)
    entry = Trapped(*Chiamate, "Generic error getting PhoneBook name: ",
                    [&] { return Chiamate->Nominativi->GetNominativo(number); });
  // An explanation leaves the statistics of the phone book and the swing
  // numbers as they are.
  if (entry) {
    sNome_c = entry->Nome;
    if (Trace) return;
    Chiamate->Nominativi->Registra(entry, outgoing, dData, dOra, undo, Chiamate->SharedRun());
    return;
  }
  // Not in the phone book: numbers called from a swing extension are kept
  // in the swing list.
  if (Trace || !Derivato || !Derivato->Swing || Derivato->Status != stIndividuato || !Chiamate->Swings) return;
  std::shared_ptr<clsSwing> swing = Trapped(*Chiamate, "Generic error getting number from swing: ",
                                            [&] { return Chiamate->Swings->GetSwing(number); });
  const bool is_new = !swing;
  if (is_new) swing = std::make_shared<clsSwing>();
  else Chiamate->Swings->Remember(swing);
  clsSwing::DatiChiamata call;
  call.uscente = outgoing;
  call.dData = dData;
  call.dOra = dOra;
  call.dDurata = dDurata;
  call.cCosto = cCosto1_c;
  call.cCostoPrecedente = costo_backup_;
  call.annulla = undo && !is_new;
  call.per_data = Chiamate->SharedRun();
  call.sNumero = number;
  call.sSito = s_sito_;
  call.sDerivato = sDerivato;
  swing->RegistraChiamata(call, is_new);
  if (is_new) Chiamate->Swings->Aggiungi(swing);
  Chiamate->Swings->Aggiorna(*swing);
}

void clsChiamata::NomeDaDirectory(const std::string& number) {
  WriteDetailLog("CalcNome:sono OEM");
  std::string object_name = GetLookupObjectName();
  WriteDetailLog("CalcNome:sLookupObject " + object_name);
  if (object_name.empty()) return;
  WriteDetailLog("CalcNome:creo  sLookupObject");
  std::unique_ptr<DirectoryLookup> lookup;
  try {
    lookup = CreateLookupObject(object_name);
  } catch (const ComponentError& e) {
    RaiseProcessorError("Failed to create KelmoraSpdApiDirLookup object:" + e.Description());
  }
  WriteDetailLog("CalcNome:dopo creo sLookupObject");
  if (!lookup) return;
  try {
    sNome_c = lookup->LookupInAddressBook(number);
    WriteDetailLog("CalcNome:LookupInAddressBook result:" + sNome_c);
  } catch (const ComponentError& e) {
    WriteDetailLog("CalcNome:errore in LookupInAddressBook:" + e.Description());
    RaiseProcessorError("Failed to call KelmoraSpdApiDirLookup LookupInAddressBook method:" + e.Description() +
                        " err nbr:" + std::to_string(e.Number()));
  }
}

}  // namespace ordalis
