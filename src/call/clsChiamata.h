#pragma once
// clsChiamata: one row of CHIAMATE (or CHIAMATEINTERNE) in memory while the
// engine rates it. The engine reuses one record for every row of a run: Load
// overwrites every column field, Save writes the row back with retries.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "call/LcrSearch.h"
#include "ordalis/DateTime.h"
#include "ordalis/Enums.h"
#include "ordalis/Money.h"
#include "ordalis/Variant.h"

namespace ordalis {

class clsChiamate;
class clsSito;
class clsDerivato;
class clsNumeroTel;
class clsTariffa;
class clsLcrs;
class clsCommessa;
class clsCarrier;
class clsCalendario;
class clsDestinazione;
class RatingTrace;
namespace rdo {
class RdoResultset;
}

class clsChiamata {
 public:
  clsChiamata();
  ~clsChiamata();

  // Column fields.
  DateTime dData = 0, dOra = 0;
  std::string sGiorno_c, sFasciaOraria_c;
  DateTime dRisposta = 0, dDurata = 0, TempoComp = 0;
  Money cTariffa_c;
  std::int32_t lScatti = 0;
  Money cCosto1_c, cCosto2_c, cCosto3_c, cDifferenza_c;
  float rDifferenzaPerc_c = 0;
  std::string sCarrier1_c, sCarrier2_c, sCommessa;
  std::string sReparto_c, sCentroDiCosto_c, sDerivato, sNomeDerivato_c, sTipo, sLinea;
  std::int16_t iStato = 0;
  std::string sTipoDestinazione_c, sNumero, sNome_c, sNazione_c, sArea_c, sEsitoChiamata_c;
  std::string sCampo1, sCampo2, sCampo3, sCampo4;
  DateTime dData2 = 0, dOra2 = 0, dGatewayTime = 0, dUTCTime = 0;
  std::string sValuta;
  double dblRapportoCambio = 0;
  std::string sReparto2_c, sCentroDiCosto2_c, sValutaRif, sSedeFisica, sSedeFisica2, sNomeGruppo;
  std::int16_t iDaScartare = 0;

  // The site code is trimmed of blanks whenever it is assigned.
  const std::string& sSito() const { return s_sito_; }
  void set_sSito(const std::string& value);

  // Per-call statuses.
  Stato StatoSito = stDaIndividuare, StatoDerivato = stDaIndividuare, StatoDerivato2 = stDaIndividuare;
  Stato StatoNumero = stDaIndividuare, StatoTariffa1 = stDaIndividuare, StatoTariffa2 = stDaIndividuare;
  Stato StatoTariffa3 = stDaIndividuare;
  bool PrimoProc = false;
  bool NoUndo = false;
  // Names come from the OEM partner's directory instead of the phone book;
  // the engine reads the switch from the registry once per run.
  bool OemDirectory = false;
  // When set, the steps record what they decide and why (an explanation of
  // the call; not owned). Nothing is looked up from earlier calls then, and
  // no unknown extension is added to the table.
  RatingTrace* Trace = nullptr;

  // References (shared, never owned).
  clsChiamate* Chiamate = nullptr;
  rdo::RdoResultset* rdoResultset = nullptr;
  std::shared_ptr<clsSito> Sito;
  std::shared_ptr<clsDerivato> Derivato;
  std::shared_ptr<clsNumeroTel> Numero;
  std::shared_ptr<clsTariffa> Tariffa2, Tariffa3;

  // The main cost as Load read it (the previous rating's cost).
  Money CostoBackup() const { return costo_backup_; }

  // A stored value as a text field loads it, into the field's storage.
  static void LoadText(const Variant& value, std::string& into);
  // A number with its last `privacy` digits hidden, as a call from an
  // extension with that privacy stores it when first rated.
  static void Mask(std::string& number, std::int16_t privacy);

  // Fills every column field from the current row of rdoResultset.
  // Throws ComponentError when a column is missing or a value does not
  // convert; its description begins with the column and the stored value.
  void Load();
  // Writes the row back; true when it was written. A failed write is
  // retried once a second up to 1000 times, each failure reported through
  // the engine's SendErrorMsg with its reason in the engine's
  // LastSaveError; StopIt ends the retries, PauseIt holds them. A write the
  // database refuses for good (rdo::kErrWriteRefused) is thrown at once.
  bool Save();

  // Identification steps; each runs its lookup once per call.
  void IndividuaSito();
  // no_insert non-zero: an unknown extension is not added automatically.
  void IndividuaDerivato(std::int16_t no_insert);
  void IndividuaDerivato2(std::int16_t no_insert);
  void IndividuaCommessa();
  void IndividuaTariffa1();
  void IndividuaTariffa2();
  // The comparison tariff of `carrier` for this call into Tariffa3, with
  // StatoTariffa3 (see Tariffa3.cpp for the rule).
  void IndividuaTariffa3(const std::shared_ptr<clsCarrier>& carrier);
  // The tariff chosen for the main carrier; null while not identified.
  const std::shared_ptr<clsTariffa>& Tariffa1() const { return tariffa1_; }
  // The second extension of an internal call (null before identification).
  const std::shared_ptr<clsDerivato>& Derivato2() const { return derivato2_; }
  // The row key as loaded.
  std::int32_t PKId() const { return pk_id_; }

  // Starts the identification of another call: every per-call status back
  // to stDaIndividuare (StatoTariffa3 belongs to the comparison) and no
  // analysed number, since the one held was made for the previous call.
  void ResetIdentification();

  // Day types and the last least-cost search are remembered from call to
  // call while the reference data stays as it is; a run that may follow a
  // reload forgets them first.
  void ForgetMemos();

  // Rating steps, in the engine's order.
  void CalcDate();
  void UseGatewayTime();
  void SetDateTimeFields();
  void CalcGiorno();
  void CalcFascia();
  void CalcTariffa();
  void CalcCosto(TipoCosto tipo, const std::shared_ptr<clsCarrier>& carrier = nullptr);
  void CalcCarrier1();
  void CalcCarrier2();
  void CalcReparto();
  void CalcSedefisica();
  void CalcCentroDiCosto();
  void CalcNomeDerivato();
  void CalcTipoDest();
  void CalcNome();
  void CalcNazione();
  void CalcArea();
  void CalcCommessa();
  void CalcDaScartare();
  void CalcValuta();
  void CalcReparto2();
  void CalcCentroDiCosto2();
  void CalcSedefisica2();

 private:
  void IndividuaTariffaLcr(Stato& status, const std::shared_ptr<clsLcrs>& lcrs, bool carrier2);
  // The day type of dData in a calendar (0 without one), remembered for
  // the next call of the same day.
  std::int16_t DayType(const clsCalendario* calendar);
  void IdentifyExtension(const std::string& number, std::shared_ptr<clsDerivato>& target, Stato& status,
                         std::int16_t no_insert, bool second);
  // Record into Trace (REQUIRES: Trace set).
  void ExplainSite();
  void ExplainExtension(const std::string& number, const clsDerivato& found, bool second);
  void ExplainTimes(const std::string& site_zone, const std::string& caller_zone, bool utc_given);
  void Warn(const std::string& text);
  void NomeDaRubrica(const std::string& number);
  void NomeDaDirectory(const std::string& number);
  struct ColumnMap;
  template <typename Value>
  void LoadColumns(Value& value);
  void WriteColumns();
  bool IsType(const char* code) const;

  std::string s_sito_;
  std::int32_t pk_id_ = 0;
  Money costo_backup_;
  std::shared_ptr<clsTariffa> tariffa1_;
  bool scatti1_ = false;  // tariff 1 is charged by metering pulses
  Money costo_scatto1_;
  std::shared_ptr<clsDerivato> placeholder_, derivato2_;
  std::shared_ptr<clsCommessa> commessa_, commessa_placeholder_;
  DateTime local_time_ = 0, local_time2_ = 0;
  // DayType's answers by calendar and day.
  struct DayTypeMemo {
    const clsCalendario* calendar = nullptr;
    std::int64_t serial = 0;
    std::int16_t type = 0;
  };
  std::array<DayTypeMemo, 256> day_types_{};
  // The question of the search under way, the answer of the last search
  // made here, and the last tariff-1 question with its answer: asked
  // again (after the tariff-2 search replaced the analysed number), it is
  // answered without a search while nothing is traced.
  LcrQuestion question_;
  LcrAnswer searched_;
  LcrQuestion last_question_;
  LcrAnswer last_answer_;
  // The answer to the question from the row's note or the last search, if any.
  const LcrAnswer* KnownAnswer(const LcrQuestion& question) const;
  std::unique_ptr<ColumnMap> columns_;
  const rdo::RdoResultset* mapped_for_ = nullptr;
};

// Points a call record at the resultset of a run for a scope; afterwards
// the record reaches nothing of it (the resultset may be gone), even when
// the scope ends with an exception.
class RowsOf {
 public:
  RowsOf(clsChiamata& call, rdo::RdoResultset* rows) : call_(call) { call_.rdoResultset = rows; }
  ~RowsOf() { call_.rdoResultset = nullptr; }
  RowsOf(const RowsOf&) = delete;
  RowsOf& operator=(const RowsOf&) = delete;

 private:
  clsChiamata& call_;
};

}  // namespace ordalis
