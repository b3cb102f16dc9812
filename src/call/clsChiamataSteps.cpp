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
#include "call/TimeCost.h"
#include "call/clsChiamata.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsNumeroTel.h"
#include "ordalis/ComponentError.h"
#include "ordalis/DirectoryLookup.h"
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
namespace {

// Length in characters of a UTF-8 text.
std::size_t Chars(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// The interconnection prefix a number starts with (first match in the
// dictionary's order): the prefix, the number without it and its carrier.
struct PrefixMatch {
  std::string number;
  std::string carrier;
};
PrefixMatch TogliPrefissoInterconn(const std::string& number, const std::map<std::string, std::string>& prefixes) {
  for (const auto& [carrier, prefix] : prefixes)
    if (StartsWithNoCase(number, prefix)) return {number.substr(prefix.size()), carrier};
  return {number, {}};
}

std::int64_t Seconds(DateTime d) { return dt::ToSeconds(d); }
std::int64_t TimeOfDay(DateTime d) { return dt::SecondOfDay(d); }

}  // namespace

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
  }
  if (Sito->Status == stNonIndividuato) Warn(LoadResString(20606) + s_sito_);
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
    }
  }
  // Automatic insertion of an extension the table does not know yet.
  if (target->Status == stNonIndividuato && no_insert == 0 && Sito && Sito->Status == stIndividuato &&
      Sito->AggiuntaAutomaticaDerivati && Chiamate->Derivati) {
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
  if (Sito->Status == stIndividuato && Sito->Lcrs()) {
    if (!RepeatTariff1Search(*Sito->Lcrs())) {
      IndividuaTariffaLcr(StatoTariffa1, *Sito->Lcrs(), false);
      RememberTariff1Search(*Sito->Lcrs());
    }
  } else {
    clsLcrs none;
    IndividuaTariffaLcr(StatoTariffa1, none, false);
  }
  WriteDetailLog("Fine IndividuaTariffa1");
}

bool clsChiamata::RepeatTariff1Search(const clsLcrs& lcrs) {
  const Tariff1Search& m = tariff1_search_;
  if (StatoTariffa1 != stIndividuato || LogEnabled() || m.lcrs != &lcrs || m.site != Sito.get() ||
      m.number != sNumero || m.line != sLinea || m.date != dData || m.time != dOra)
    return false;
  Numero = m.numero;
  tariffa1_ = m.tariff;
  TempoComp = m.tempo_comp;
  scatti1_ = m.pulses;
  costo_scatto1_ = m.pulse_price;
  sNomeGruppo = m.group;
  return true;
}

void clsChiamata::RememberTariff1Search(const clsLcrs& lcrs) {
  if (StatoTariffa1 != stIndividuato || !Numero || Numero->Status != stIndividuato) {
    tariff1_search_.lcrs = nullptr;
    return;
  }
  tariff1_search_ = {&lcrs, Sito.get(), sNumero, sLinea, dData, dOra, Numero, tariffa1_, TempoComp, scatti1_,
                     costo_scatto1_, sNomeGruppo};
}

void clsChiamata::IndividuaTariffa2() {
  WriteDetailLog("inizio IndividuaTariffa2");
  if (Sito && Sito->LcrsCarrier2())
    IndividuaTariffaLcr(StatoTariffa2, *Sito->LcrsCarrier2(), true);
  else
    WriteDetailLog("LCR Carrier 2 non disponibile");
  WriteDetailLog("fine IndividuaTariffa2");
}

void clsChiamata::IndividuaTariffaLcr(Stato& status, const clsLcrs& lcrs, bool carrier2) {
  const bool log = LogEnabled();
  if (log) WriteDetailLog(std::string("Individia tariffa (") + (carrier2 ? "True" : "False") + ")");
  IndividuaSito();
  if (Sito->Status != stIndividuato) {
    status = stNonIndividuato;
    Warn(LoadResString(20607) + sNumero + LoadResString(20608) + dt::ToText(dData) + " - " + dt::ToText(dOra) +
         " - " + dt::ToText(dDurata) + " - " + s_sito_ + " - " + sDerivato);
    return;
  }
  std::int16_t best_priority = 9999;
  PrefixMatch bare = TogliPrefissoInterconn(sNumero, lcrs.PrefissiCarrier());
  Numero = std::make_shared<clsNumeroTel>();
  Numero->Numero = bare.number;
  Numero->Status = stDaIndividuare;
  const std::int16_t day_type = DayType(Sito->Calendario.get());
  std::string trace_line, kept;
  if (log) {
    trace_line = "Call: " + std::to_string(pk_id_) + " - " + dt::ToText(dData) + " " + dt::ToText(dOra) + " " +
                 sNumero + " TIPOGG " + std::to_string(day_type);
    WriteDetailLog("\tNumero=" + bare.number + " - PrefNaz=" + Sito->PrefNaz + " - PrefIntern=" +
                   Sito->PrefInternazionale);
  }
  static const std::string kAll = LoadResString(20811);
  const std::int64_t call_time = TimeOfDay(dOra);
  const std::int64_t call_day = Seconds(dt::DatePart(dData));
  std::size_t best_length = 0, best_count = 1000000;
  bool found_lcr = false, found_dest = false, found_tariff = false;
  for (const auto& lcr : lcrs.Lcrs()) {
    if (lcr->Priorita > best_priority) continue;
    if (!EqualsNoCase(lcr->Linea, sLinea) && !EqualsNoCase(lcr->Linea, "TUTTE") && !EqualsNoCase(lcr->Linea, "ALL") &&
        !EqualsNoCase(lcr->Linea, kAll))
      continue;
    if (TimeOfDay(lcr->Dalle) > call_time || call_time > TimeOfDay(lcr->Alle)) continue;
    if (!carrier2 && !bare.carrier.empty() && !EqualsNoCase(lcr->Carrier, bare.carrier)) continue;
    found_lcr = true;
    if (log) WriteDetailLog("\tTrovato LCR" + lcr->Key);
    const auto& destinations = lcr->Destinazioni();
    if (!destinations || destinations->Destinazioni().Count() == 0) {
      WriteDetailLog("Destinazioni non presenti per questo LCR");
      continue;
    }
    std::shared_ptr<clsDestinazione> dest =
        destinations->GetDestinazioneMigliore(bare.number, Sito->PrefNaz, Sito->PrefInternazionale);
    if (!dest) continue;
    std::optional<std::int32_t> distance;  // worked out when a tariff asks for it
    if (lcr->Priorita < best_priority) {
      best_length = 0;
      best_count = 1000000;
    }
    best_priority = lcr->Priorita;
    found_dest = true;
    if (log) WriteDetailLog("\t\tTrovato Numero " + dest->Key);
    std::size_t length = Chars(dest->Key), count = destinations->Destinazioni().Count();
    if (!(length > best_length || (length == best_length && count <= best_count))) continue;
    if (!lcr->Tariffe()) continue;
    for (const auto& t : lcr->Tariffe()->Tariffe) {
      if (t->TipoGiorno != day_type) continue;
      if (TimeOfDay(t->Dalle) > call_time || call_time >= TimeOfDay(t->Alle)) continue;
      if (call_day < Seconds(t->ValidaDal) || call_day > Seconds(t->ValidaAl)) continue;
      if (!distance) distance = CalcDistanza(*dest, *Sito);
      if (*distance < t->DalKm || *distance > t->AlKm) continue;
      best_length = length;
      best_count = count;
      found_tariff = true;
      status = stIndividuato;
      if (log) {
        kept = "LCR:" + lcr->Key + " DESTINAZIONE: " + dest->Key + " TARIFFA: " + t->Key;
        WriteDetailLog("Trovata tariffa: " + t->Key);
      }
      if (carrier2) {
        Tariffa2 = t;
      } else {
        TempoComp = static_cast<double>(t->TempoComposizione) / dt::kSecondsPerDay;
        tariffa1_ = t;
        Numero->Status = stIndividuato;
        Numero->Destinazione = dest;
        scatti1_ = lcr->Scatti;
        costo_scatto1_ = lcr->CostoScatto;
        sNomeGruppo = lcr->GruppoDest;
      }
    }
  }
  WriteDetailLog("Esco da For LCR");
  if (!carrier2 && log) {
    if (found_lcr) trace_line += " - LCR";
    if (found_dest) trace_line += " - DEST";
    if (found_tariff) trace_line += " - TARIF - " + kept;
    AppendLogLine(kProcessLogFile, trace_line);
  }
}

std::int16_t clsChiamata::DayType(const clsCalendario* calendar) {
  if (!calendar) return 0;
  const std::int64_t serial = dt::DaySerial(dData);
  const std::uint64_t slot = static_cast<std::uint64_t>(serial) * 31 + reinterpret_cast<std::uintptr_t>(calendar) / 64;
  DayTypeMemo& memo = day_types_[slot % day_types_.size()];
  if (memo.calendar == calendar && memo.serial == serial) return memo.type;
  auto giorno = calendar->GetGiorno(dData);
  if (!giorno) return 0;
  memo = {calendar, serial, giorno->Tipo};
  return memo.type;
}

void clsChiamata::ForgetDayTypes() { day_types_.fill(DayTypeMemo{}); }

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
  // The exchange's date and time as one value; built from whole days and
  // seconds, since before 1899-12-30 adding the time fraction would move
  // the value the wrong way.
  const DateTime stamp = dt::FromSerialAndSeconds(dt::DaySerial(dData), dt::SecondOfDay(dOra));
  auto caller_local = [&] {
    local_time_ = (!caller_zone || dUTCTime == 0) ? stamp : caller_zone->ConvertTimeFromUTC(dUTCTime);
  };
  auto second_local = [&] {
    local_time2_ = (!second_zone || dUTCTime == 0) ? local_time_ : second_zone->ConvertTimeFromUTC(dUTCTime);
  };
  if (dUTCTime == 0) {
    dGatewayTime = stamp;
    if (site_zone) dUTCTime = site_zone->ConvertTimeToUTC(dGatewayTime);
    caller_local();
    if (internal) {
      dData2 = dData;
      dOra2 = dOra;
      second_local();
    }
  } else {
    if (!site_zone) {
      dGatewayTime = stamp;
    } else {
      dGatewayTime = site_zone->ConvertTimeFromUTC(dUTCTime);
      if (dt::ToSeconds(dGatewayTime) != dt::ToSeconds(stamp)) {
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
  auto store = [&] {
    if (tipo == tcCosto1) cCosto1_c = cost;
    else if (tipo == tcCosto2) cCosto2_c = cost;
    else cCosto3_c = cost;
  };
  if (!IsType("O")) {
    sEsitoChiamata_c = dDurata == 0 ? "0" : "1";
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
    store();
    return;
  }
  const bool pulses = tipo == tcCosto1 && scatti1_;
  IndividuaDerivato(static_cast<std::int16_t>(tipo));
  if (!pulses) {
    WriteDetailLog("Calcolo a Tempo");
    TimeCostResult r = CalcTimeCost(*tariff, dt::DurationSeconds(dDurata), iStato != 0);
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
    cost = Derivato->Status == stIndividuato ? price * static_cast<double>(lScatti) : Money();
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
    cost = Money();
    store();
    return;
  }
  if (tipo == tcCosto1) cost = Money::FromDouble(cost.ToDouble() * (1 + Derivato->Ricarico.ToDouble() / 100));
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

void clsChiamata::MaskNumber(std::int16_t privacy) {
  if (sNumero.empty() || privacy <= 0) return;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(privacy), sNumero.size());
  sNumero.replace(sNumero.size() - n, n, n, '*');
}

void clsChiamata::CalcNomeDerivato() {
  if (!Derivato || Derivato->Status != stIndividuato) {
    sNomeDerivato_c.clear();
    return;
  }
  sNomeDerivato_c = Derivato->Nome;
  if (PrimoProc && !IsType("E")) MaskNumber(Derivato->Privacy);
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
  if (PrimoProc) MaskNumber(commessa_->Privacy);
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
  // Without an analysed number (the site was not identified, so the
  // least-cost search never ran) there is no name to look for.
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

void clsChiamata::NomeDaRubrica(const std::string& number) {
  const bool undo = !PrimoProc && !NoUndo;
  const bool outgoing = IsType("O");
  std::shared_ptr<clsNominativo> entry;
  sNome_c.clear();
  if (Chiamate->Nominativi) {
    try {
      entry = Chiamate->Nominativi->GetNominativo(number);
    } catch (const ComponentError& e) {
      if (Chiamate->UsoRiproc()) RaiseProcessorError("Generic error getting PhoneBook name: " + e.Description());
      Chiamate->set_Errore(e.Description());
      Chiamate->set_CacheStopped(true);
      return;
    }
  }
  if (entry) {
    sNome_c = entry->Nome;
    entry->RegistraChiamata(outgoing, dData, dOra, undo);
    Chiamate->Nominativi->Aggiorna(*entry);
    return;
  }
  // Not in the phone book: numbers called from a swing extension are kept
  // in the swing list.
  if (!Derivato || !Derivato->Swing || Derivato->Status != stIndividuato || !Chiamate->Swings) return;
  std::shared_ptr<clsSwing> swing;
  try {
    swing = Chiamate->Swings->GetSwing(number);
  } catch (const ComponentError& e) {
    if (Chiamate->UsoRiproc()) RaiseProcessorError("Generic error getting number from swing: " + e.Description());
    Chiamate->set_Errore(e.Description());
    Chiamate->set_CacheStopped(true);
    return;
  }
  const bool is_new = !swing;
  if (is_new) swing = std::make_shared<clsSwing>();
  clsSwing::DatiChiamata call;
  call.uscente = outgoing;
  call.dData = dData;
  call.dOra = dOra;
  call.dDurata = dDurata;
  call.cCosto = cCosto1_c;
  call.cCostoPrecedente = costo_backup_;
  call.annulla = undo && !is_new;
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
