// The least-cost search on LCR tables built in memory: which entry, which
// destination and which tariff a call gets, at the edges of each rule.
#include <gtest/gtest.h>

#include "call/LcrSearch.h"
#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "reference/clsSito.h"
#include "tariffs/clsLcr.h"
#include "tariffs/clsLcrs.h"
#include "tariffs/clsTariffa.h"
#include "tariffs/clsTariffe.h"

namespace ordalis {
namespace {

class LcrSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_->PrefNaz = "39";
    site_->PrefInternazionale = "00";
  }

  // An entry of `carrier` for the areas given (country 39), with one tariff
  // for day type 1 in the window [08:00, 18:00) valid through 2024.
  clsLcr& Entry(const std::string& carrier, std::initializer_list<const char*> areas, std::int16_t priority = 1,
                const std::string& line = "L1", const char* from = "08:00:00", const char* to = "18:00:00") {
    auto lcr = std::make_shared<clsLcr>();
    lcr->Carrier = carrier;
    lcr->Priorita = priority;
    lcr->Linea = line;
    lcr->Dalle = dt::FromText(from);
    lcr->Alle = dt::FromText(to);
    lcr->GruppoDest = carrier + std::to_string(lcrs_->Lcrs().Count());
    auto destinations = std::make_shared<clsDestinazioni>();
    for (const char* area : areas) {
      auto d = std::make_shared<clsDestinazione>();
      d->PrefNaz = "39";
      d->PrefArea = area;
      d->Key = clsDestinazione::MakeKey(d->PrefNaz, d->PrefArea);
      destinations->Add(d, d->Key);
    }
    lcr->set_Destinazioni(destinations);
    lcr->set_Tariffe(std::make_shared<clsTariffe>());
    AddTariff(*lcr, lcr->GruppoDest, "08:00:00", "18:00:00");
    lcrs_->Lcrs().Add(lcr, lcr->GruppoDest);
    return *lcr;
  }
  static clsTariffa& AddTariff(clsLcr& lcr, const std::string& key, const char* from, const char* to,
                               std::int16_t day_type = 1) {
    auto t = std::make_shared<clsTariffa>();
    t->Key = key;
    t->TipoGiorno = day_type;
    t->Dalle = dt::FromText(from);
    t->Alle = dt::FromText(to);
    t->DalKm = 0;
    t->AlKm = 100000;
    t->ValidaDal = dt::FromText("2024-01-01");
    t->ValidaAl = dt::FromText("2024-12-31");
    lcr.Tariffe()->Tariffe.Add(t, key);
    return *t;
  }

  // The key of the chosen tariff ("" when none) for a call on 2024-03-05.
  std::string Search(const std::string& number, const char* time, const std::string& line = "L1",
                     bool carrier2 = false, const char* date = "2024-03-05") {
    LcrQuestion q;
    q.site = site_;
    q.lcrs = lcrs_;
    q.number = number;
    q.line = line;
    q.day = dt::ToSeconds(dt::FromText(date));
    q.time = dt::SecondOfDay(dt::FromText(time));
    q.day_type = 1;
    q.carrier2 = carrier2;
    SearchLcr(q, answer_);
    return answer_.tariff ? answer_.tariff->Key : "";
  }

  std::shared_ptr<clsSito> site_ = std::make_shared<clsSito>();
  std::shared_ptr<clsLcrs> lcrs_ = std::make_shared<clsLcrs>();
  LcrAnswer answer_;
};

TEST_F(LcrSearchTest, EntryWindowIncludesItsEndTariffWindowExcludesIt) {
  clsLcr& day = Entry("Alpha", {"02"}, 1, "L1", "08:00:00", "12:00:00");
  AddTariff(day, "noon", "12:00:00", "18:00:00");
  // 12:00 is the entry's last instant and the start of the "noon" tariff;
  // the first tariff [08:00, 18:00) still matches and "noon" overwrites it.
  EXPECT_EQ(Search("0212345", "12:00:00"), "noon");
  EXPECT_EQ(Search("0212345", "12:00:01"), "");  // past the entry's window
  EXPECT_FALSE(answer_.found_lcr);
  EXPECT_EQ(Search("0212345", "08:00:00"), "Alpha0");

  clsLcr& evening = Entry("Beta", {"06"}, 1, "L1", "00:00:00", "23:59:59");
  (void)evening;
  EXPECT_EQ(Search("0612345", "17:59:59"), "Beta1");
  // A tariff ending at 18:00 does not price a call at 18:00: the entry
  // qualifies, the destination is found, no tariff.
  EXPECT_EQ(Search("0612345", "18:00:00"), "");
  EXPECT_TRUE(answer_.found_lcr);
  EXPECT_TRUE(answer_.found_destination);
}

TEST_F(LcrSearchTest, LineAllInAnyLetterCaseMatchesEveryLine) {
  Entry("Alpha", {"02"}, 1, "all");
  Entry("Beta", {"03"}, 1, "Tutte");
  Entry("Gamma", {"04"}, 1, "l7");
  EXPECT_EQ(Search("0212345", "10:00:00", "TRUNK9"), "Alpha0");
  EXPECT_EQ(Search("0312345", "10:00:00", "TRUNK9"), "Beta1");
  EXPECT_EQ(Search("0412345", "10:00:00", "L7"), "Gamma2");  // the line itself, letter case ignored
  EXPECT_EQ(Search("0412345", "10:00:00", "L8"), "");
}

TEST_F(LcrSearchTest, BestEntryByPriorityThenKeyLengthThenFewerDestinations) {
  Entry("Wide", {"02", "03", "04"});
  Entry("Narrow", {"02", "05"});
  // Same priority and key length: the entry with fewer destinations wins.
  EXPECT_EQ(Search("0212345", "10:00:00"), "Narrow1");
  Entry("Later", {"02", "06"});
  // Same length and count: the later entry wins.
  EXPECT_EQ(Search("0212345", "10:00:00"), "Later2");
  Entry("Longer", {"021", "07", "08", "09"});
  EXPECT_EQ(Search("0212345", "10:00:00"), "Longer3");
  // A better priority found later replaces it even with a shorter key.
  Entry("First", {"0"}, 0);
  EXPECT_EQ(Search("0212345", "10:00:00"), "First4");
  EXPECT_EQ(answer_.destination->Key, clsDestinazione::MakeKey("39", "0"));
}

TEST_F(LcrSearchTest, InterconnectionPrefixLimitsTariffOneToItsCarrier) {
  Entry("Alpha", {"02"});
  Entry("Beta", {"02"});
  lcrs_->PrefissiCarrier()["Alpha"] = "1088";
  EXPECT_EQ(Search("1088021234", "10:00:00"), "Alpha0");
  EXPECT_EQ(answer_.number, "021234");
  // The alternative carrier's search takes any carrier: the later entry.
  EXPECT_EQ(Search("1088021234", "10:00:00", "L1", true), "Beta1");
  EXPECT_EQ(Search("021234", "10:00:00"), "Beta1");
}

TEST_F(LcrSearchTest, ValidityDatesDayTypeAndDistance) {
  clsLcr& e = Entry("Alpha", {"02"}, 1, "L1", "00:00:00", "23:59:59");
  EXPECT_EQ(Search("0212345", "10:00:00", "L1", false, "2024-12-31"), "Alpha0");
  EXPECT_EQ(Search("0212345", "10:00:00", "L1", false, "2025-01-01"), "");
  AddTariff(e, "holiday", "00:00:00", "23:59:59", 2);
  EXPECT_EQ(Search("0212345", "20:00:00"), "");  // day type 1 asked
  e.Tariffe()->Tariffe.Item("Alpha0")->DalKm = 1;  // the site has no location: 0 km
  EXPECT_EQ(Search("0212345", "10:00:00"), "");
}

}  // namespace
}  // namespace ordalis
