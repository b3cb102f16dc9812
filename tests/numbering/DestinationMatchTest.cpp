// The best-destination match: the edge cases of number analysis, and the
// prefix index compared with a plain linear match on random collections.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "numbering/clsDestinazione.h"
#include "numbering/clsDestinazioni.h"
#include "numbering/clsNumeroTel.h"

using namespace ordalis;

namespace {

std::shared_ptr<clsDestinazione> Dest(const std::string& naz, const std::string& area) {
  auto d = std::make_shared<clsDestinazione>();
  d->PrefNaz = naz;
  d->PrefArea = area;
  d->Key = clsDestinazione::MakeKey(naz, area);
  return d;
}

// Adds under the destination's own key and returns it.
std::shared_ptr<clsDestinazione> Put(clsDestinazioni& c, const std::string& naz, const std::string& area) {
  auto d = Dest(naz, area);
  c.Add(d, d->Key);
  return d;
}

// Code points of a UTF-8 text, so the reference counts and slices characters
// independently of the index's byte-wise walk.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

bool StartsWith(const std::u32string& s, const std::u32string& p) { return s.compare(0, p.size(), p) == 0; }

// The match exactly as the rating rules word it: every destination visited
// in collection order, a candidate replacing the best only with a strictly
// longer Key.
std::shared_ptr<clsDestinazione> Linear(const clsDestinazioni& c, const std::string& number, const std::string& naz,
                                        const std::string& intl) {
  const std::u32string n = Decode(number), pn = Decode(naz), pi = Decode(intl);
  std::shared_ptr<clsDestinazione> best;
  std::size_t best_len = 0;
  const bool international = StartsWith(n, pi);
  for (const auto& d : c.Destinazioni()) {
    const std::u32string dn = Decode(d->PrefNaz), da = Decode(d->PrefArea);
    bool candidate;
    if (international) {
      candidate = StartsWith(n, dn) &&
                  (d->PrefArea == "-" || (n.size() >= dn.size() && n.substr(dn.size(), da.size()) == da));
    } else {
      candidate = d->PrefNaz == naz && StartsWith(n, da);
    }
    const std::size_t len = Decode(d->Key).size();
    if (candidate && len > best_len) {
      best = d;
      best_len = len;
    }
  }
  return best;
}

}  // namespace

TEST(DestinationMatch, EmptyCollectionOrNoMatchGivesNothing) {
  clsDestinazioni c;
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "39", "00"), nullptr);
  Put(c, "39", "02");
  Put(c, "0044", "20");
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "39", "00"), nullptr);
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "41", "00"), nullptr);  // another country
  EXPECT_EQ(c.GetDestinazioneMigliore("0033123", "39", "00"), nullptr);
}

TEST(DestinationMatch, LongestAreaWinsWithinTheCountry) {
  clsDestinazioni c;
  auto short_area = Put(c, "39", "06");
  auto long_area = Put(c, "39", "0654");
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), long_area);
  EXPECT_EQ(c.GetDestinazioneMigliore("065512345", "39", "00"), short_area);
  // Domestic matching uses only the caller's country: the same area of
  // another country is not a candidate.
  Put(c, "41", "065412");
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), long_area);
}

TEST(DestinationMatch, WholeCountryAreaMatchesInternationalNumbersOnly) {
  clsDestinazioni c;
  auto uk = Put(c, "0044", "-");
  auto london = Put(c, "0044", "20");
  auto italy = Put(c, "39", "-");
  EXPECT_EQ(c.GetDestinazioneMigliore("00441612345", "39", "00"), uk);
  EXPECT_EQ(c.GetDestinazioneMigliore("00442079460000", "39", "00"), london);  // area beats the whole country
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "39", "00"), nullptr);       // never domestic
  // A domestic number literally beginning with "-" is the only way to meet "-".
  EXPECT_EQ(c.GetDestinazioneMigliore("-123", "39", "00"), italy);
}

TEST(DestinationMatch, EmptyAreaMatchesEveryNumberOfItsCountryButLosesToLongerKeys) {
  clsDestinazioni c;
  auto any_it = Put(c, "39", "");
  auto milan = Put(c, "39", "02");
  auto any_fr = Put(c, "0033", "");
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "39", "00"), any_it);
  EXPECT_EQ(c.GetDestinazioneMigliore("", "39", "00"), any_it);
  EXPECT_EQ(c.GetDestinazioneMigliore("0212345", "39", "00"), milan);
  EXPECT_EQ(c.GetDestinazioneMigliore("0033123", "39", "00"), any_fr);
  // "-" (key length +2) beats the empty area (+1) of the same country.
  auto whole_fr = Put(c, "0033", "-");
  EXPECT_EQ(c.GetDestinazioneMigliore("0033123", "39", "00"), whole_fr);
}

TEST(DestinationMatch, NumberShorterThanCountryPlusAreaDoesNotMatchThatArea) {
  clsDestinazioni c;
  auto whole = Put(c, "0044", "-");
  Put(c, "0044", "207");
  EXPECT_EQ(c.GetDestinazioneMigliore("004420", "39", "00"), whole);
  EXPECT_EQ(c.GetDestinazioneMigliore("004", "39", "00"), nullptr);
  Put(c, "39", "0654");
  EXPECT_EQ(c.GetDestinazioneMigliore("065", "39", "00"), nullptr);
}

TEST(DestinationMatch, EmptyInternationalPrefixMakesEveryNumberInternational) {
  clsDestinazioni c;
  auto rome = Put(c, "39", "06");
  auto whole = Put(c, "39", "-");
  // With no international prefix a bare "0612345" is international: the
  // country prefix must begin it, which "39" does not.
  EXPECT_EQ(c.GetDestinazioneMigliore("0612345", "39", ""), nullptr);
  EXPECT_EQ(c.GetDestinazioneMigliore("390612345", "39", ""), rome);
  EXPECT_EQ(c.GetDestinazioneMigliore("39555", "39", ""), whole);
  EXPECT_EQ(c.GetDestinazioneMigliore("390612345", "39", "00"), nullptr);  // domestic: no area "39..."
}

TEST(DestinationMatch, ForeignCountryPrefixIsMatchedInDialledForm) {
  clsDestinazioni c;
  Put(c, "44", "20");
  EXPECT_EQ(c.GetDestinazioneMigliore("00442079460000", "39", "00"), nullptr);
  auto dialled = Put(c, "0044", "20");
  EXPECT_EQ(c.GetDestinazioneMigliore("00442079460000", "39", "00"), dialled);
}

TEST(DestinationMatch, EqualKeyLengthsGoToTheFirstInCollectionOrder) {
  clsDestinazioni c;
  // Both match 0044 2...: "0044¦20" and "00442¦0" have keys of equal length.
  auto first = Put(c, "0044", "20");
  auto second = Put(c, "00442", "0");
  EXPECT_EQ(c.GetDestinazioneMigliore("004420123", "39", "00"), first);
  clsDestinazioni reversed;
  auto r_first = Put(reversed, "00442", "0");
  Put(reversed, "0044", "20");
  EXPECT_EQ(reversed.GetDestinazioneMigliore("004420123", "39", "00"), r_first);
  (void)second;
}

TEST(DestinationMatch, RankIsTheKeyLengthInCharactersNotBytes) {
  clsDestinazioni c;
  // "é" is one character in two bytes: "39¦é" (4 chars) ties "39¦0" and the
  // earlier one wins; counting bytes would make the later, 2-byte one win.
  auto plain = Dest("39", "0");
  plain->Key = "39\xC2\xA6" "0";
  c.Add(plain, "a");
  auto accented = Dest("3", "9");
  accented->Key = "3\xC3\xA9\xC2\xA6" "9";  // same 4 characters, more bytes
  c.Add(accented, "b");
  EXPECT_EQ(c.GetDestinazioneMigliore("390", "x", ""), plain);
}

TEST(DestinationMatch, IndexFollowsAdditionsAndRemovalsAfterItWasBuilt) {
  clsDestinazioni c;
  auto rome = Put(c, "39", "06");
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), rome);
  auto eur = Put(c, "39", "0654");
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), eur);
  c.Remove(eur->Key);
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), rome);
  c.Remove(1);
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), nullptr);
  auto replacement = std::make_shared<clsDestinazioni::Collection>();
  auto other = Dest("39", "065");
  replacement->Add(other, other->Key);
  c.set_Destinazioni(replacement);
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), other);
  c.Clear();
  EXPECT_EQ(c.GetDestinazioneMigliore("065412345", "39", "00"), nullptr);
}

TEST(DestinationMatch, NumeroTelResetForgetsThePreviousCall) {
  clsNumeroTel n;
  n.Numero = "06123";
  n.Status = stIndividuato;
  n.Destinazione = Dest("39", "06");
  n.Reset();
  EXPECT_EQ(n.Status, stDaIndividuare);
  EXPECT_EQ(n.Destinazione, nullptr);
  EXPECT_TRUE(n.Numero.empty());
}

// The index against the linear match on thousands of random collections,
// before and after random additions and removals. Small alphabets make
// prefixes collide often: shared country prefixes, areas that prefix each
// other, "-" areas, empty prefixes, a multi-byte character, and members
// under their own keys or under unrelated keys (equal prefix pairs, ties).
TEST(DestinationMatch, IndexAgreesWithTheLinearMatchOnRandomCollections) {
  std::mt19937 rng(20240517);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::vector<std::string> alphabet = {"0", "0", "1", "2", "3", "9", "-", "\xC3\xA9"};
  auto text = [&](int max_len) {
    std::string s;
    for (int i = pick(max_len + 1); i > 0; --i) s += alphabet[pick(static_cast<int>(alphabet.size()))];
    return s;
  };
  const std::vector<std::string> intl_prefixes = {"", "0", "00", "1", "\xC3\xA9"};

  int compared = 0, found = 0;
  for (int round = 0; round < 3000; ++round) {
    clsDestinazioni c;
    std::vector<std::string> countries;
    const int size = pick(40);
    int serial = 0;
    auto add_random = [&] {
      std::string naz = pick(4) == 0 ? "00" + text(2) : text(3);
      if (!countries.empty() && pick(2)) naz = countries[pick(static_cast<int>(countries.size()))];
      countries.push_back(naz);
      std::string area = pick(5) == 0 ? "-" : text(4);
      auto d = Dest(naz, area);
      if (pick(10) == 0) d->Key = text(6);  // a Key that is not the prefix pair (even empty)
      std::string key = pick(3) == 0 ? "k" + std::to_string(serial++) : d->Key + "#" + std::to_string(serial++);
      c.Add(d, key);
    };
    for (int i = 0; i < size; ++i) add_random();

    auto compare_all = [&] {
      for (int q = 0; q < 25; ++q) {
        std::string number;
        if (c.Destinazioni().Count() > 0 && pick(3)) {
          const auto& d = c.Destinazioni().Item(1 + pick(static_cast<int>(c.Destinazioni().Count())));
          number = d->PrefNaz + (d->PrefArea == "-" ? "" : d->PrefArea) + text(4);
          if (pick(4) == 0 && !number.empty()) number.pop_back();
        } else {
          number = text(8);
        }
        std::string naz = !countries.empty() && pick(4) ? countries[pick(static_cast<int>(countries.size()))] : text(2);
        const std::string& intl = intl_prefixes[pick(static_cast<int>(intl_prefixes.size()))];
        auto expected = Linear(c, number, naz, intl);
        auto actual = c.GetDestinazioneMigliore(number, naz, intl);
        ASSERT_EQ(actual, expected) << "round " << round << " number '" << number << "' naz '" << naz << "' intl '"
                                    << intl << "' expected key '" << (expected ? expected->Key : "-none-")
                                    << "' got '" << (actual ? actual->Key : "-none-") << "'";
        ++compared;
        found += expected != nullptr;
      }
    };
    compare_all();
    // Change the collection after the index was built.
    for (int m = pick(6); m > 0; --m) {
      if (c.Destinazioni().Count() > 0 && pick(2))
        c.Remove(static_cast<std::size_t>(1 + pick(static_cast<int>(c.Destinazioni().Count()))));
      else
        add_random();
    }
    compare_all();
  }
  // The generator must produce hits as well as misses to prove anything.
  EXPECT_GT(found, compared / 4);
  EXPECT_LT(found, compared);
}
