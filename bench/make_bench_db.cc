// SPDX-License-Identifier: Apache-2.0
// make_bench_db: writes the benchmark database, an Access 2000 file with a
// large shipping log, through the engine's own writer.
//
//   build/bin/make_bench_db [--rows N] [--seed S] [--sample DIR] OUT.mdb
//
// The file holds the sample database's Master and Panel (their schema and
// rows, read from DIR/schema and DIR/rows; DIR defaults to the checkout's
// sample/) and a Shipments table of N rows (default 300,000, at most
// 10,000,000):
//
//   ID         Long autonumber, primary key
//   TRACKING   Text(30), unique index: carrier-shaped numbers (UPS "1Z...",
//              USPS 22 digits or S10 "CP...US", FedEx 12/15 digits, ...);
//              null for customer pickups
//   SERVICE    Text(20), indexed: a key of Master, the busier services more
//              often
//   WEIGHT     Double, pounds to three decimals, within the service's
//              MAXWEIGHT
//   SHIPDATE   DateTime, business days of 2019-2024 in ID order
//   PIECES     Integer
//   COST       Currency, in cents, from the service's RATE, weight and pieces
//   DELIVERED  Boolean, false mostly for the last days
//   CONSIGNEE  Text(50), people and companies, many with accents
//   NOTE       Memo, mostly null; some short, some long, and about one row
//              in 10,000 a handling log of 6,000 to 10,000 characters, which
//              spans several pages
//
// Every value comes from one pseudo-random generator seeded with S (default
// 1), and every stamp that Jet keeps of the time the tables were made is
// set to a fixed date, so the same arguments write the same bytes. The file
// is written in batches of 20,000 rows, each committed on its own.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/json.h"
#include "interchange/schema_json.h"
#include "interchange/value_json.h"
#include "jet/create.h"
#include "jet/jet.h"
#include "jet/table_writer.h"

#ifndef AFC_SAMPLE_DIR
#define AFC_SAMPLE_DIR "sample"
#endif

namespace {

constexpr long kMaxRows = 10000000;  // the tracking serials are 7 digits
constexpr size_t kBatchRows = 20000;

// xoshiro256** seeded through splitmix64: the same sequence on every
// platform, unlike the distributions of <random>.
class Rng {
 public:
  explicit Rng(uint64_t seed) {
    for (uint64_t& w : s_) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      w = z ^ (z >> 31);
    }
  }
  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  // [0, n)
  uint64_t Below(uint64_t n) { return Next() % n; }
  // [lo, hi]
  int64_t Between(int64_t lo, int64_t hi) { return lo + int64_t(Below(uint64_t(hi - lo + 1))); }
  // [0, 1)
  double Uniform() { return double(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Uniform() < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
  std::string Digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char('0' + Below(10));
    return s;
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

int Fail(const std::string& what, int code = 1) {
  std::fprintf(stderr, "make_bench_db: %s\n", what.c_str());
  return code;
}

jet::Result<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return jet::Status::IoError("Cannot open " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// --- Values ---

jet::Value Null(jet::ColumnType type) {
  jet::Value v;
  v.type = type;
  return v;
}
jet::Value Text(std::string s, jet::ColumnType type = jet::ColumnType::kText) {
  jet::Value v = Null(type);
  v.null = false;
  v.bytes = std::move(s);
  return v;
}
jet::Value Integer(jet::ColumnType type, int64_t n) {
  jet::Value v = Null(type);
  v.null = false;
  v.integer = n;
  return v;
}
jet::Value Real(jet::ColumnType type, double d) {
  jet::Value v = Null(type);
  v.null = false;
  v.real = d;
  return v;
}
jet::Value Boolean(bool b) {
  jet::Value v = Null(jet::ColumnType::kBoolean);
  v.null = false;
  v.boolean = b;
  return v;
}

const jet::Value* Field(const jet::TableDef& table, const std::vector<jet::Value>& row,
                        const char* name) {
  const jet::ColumnDef* c = table.FindColumn(name);
  return c ? &row[size_t(c - table.columns.data())] : nullptr;
}

// --- Tracking numbers ---

// A weighted mod-10 check digit (weights 3 and 1 from the right), letters
// counted by their place in the alphabet.
char CheckDigit(const std::string& s) {
  int sum = 0, weight = 3;
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    const char c = *it;
    int d = 0;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'A' && c <= 'Z') d = (c - 'A' + 2) % 10;
    sum += d * weight;
    weight = 4 - weight;
  }
  return char('0' + (10 - sum % 10) % 10);
}

// The UPU S10 check digit of 8 serial digits.
char S10CheckDigit(const std::string& digits) {
  static const int kWeights[8] = {8, 6, 4, 2, 3, 5, 9, 7};
  int sum = 0;
  for (size_t i = 0; i < 8; ++i) sum += (digits[i] - '0') * kWeights[i];
  const int c = 11 - sum % 11;
  return char('0' + (c == 10 ? 0 : c == 11 ? 5 : c));
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string Upper(const std::string& s) {
  std::string out;
  for (char c : s) out += (c >= 'a' && c <= 'z') ? char(c - 32) : c;
  return out;
}

std::string Alnum(Rng& rng, int n) {
  static const char kChars[] = "0123456789ABCDEFGHJKLMNPRSTUVWXYZ";
  std::string s;
  for (int i = 0; i < n; ++i) s += kChars[rng.Below(sizeof kChars - 1)];
  return s;
}

struct Service {
  std::string key;
  std::string carrier;
  int64_t rate = 0;  // Currency units (1/10000)
  double max_weight = 150;
  double share = 0;  // how often it is shipped, relative
  std::string code;  // the carrier's code for the service, in its numbers
};

// Each carrier's numbers have a shape of their own (a prefix, a length),
// and every one holds the row's 7-digit serial at a fixed place: two rows
// never share a serial, so no two tracking numbers are the same.
class TrackingNumbers {
 public:
  explicit TrackingNumbers(Rng& rng) : key_(rng.Next()) {
    for (auto& a : ups_accounts_) a = Alnum(rng, 6);
    for (auto& m : usps_mailers_) m = "9" + rng.Digits(8);
  }

  // Null for a pickup at the counter.
  jet::Value For(const Service& s, long row, Rng& rng) const {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%07u", Serial(uint32_t(row)));
    const std::string serial = buf;
    std::string t;
    const std::string& c = s.carrier;
    if (c == "USPS" && StartsWith(s.key, "USPS-PM")) {  // international: UPU S10
      std::string digits = rng.Digits(1) + serial;
      t = (s.key == "USPS-PMEI" ? "EA" : "CP") + digits + S10CheckDigit(digits) + "US";
      return Text(t);
    }
    if (c == "USPS") {
      t = "94" + s.code + usps_mailers_[rng.Below(2)] + serial;
    } else if (c == "UPS") {
      t = "1Z" + ups_accounts_[rng.Below(3)] + s.code + serial;
    } else if (c == "FedEx") {
      t = (s.key == "FEDEX-GND" || s.key == "FEDEX-HD") ? "9" + rng.Digits(6) + serial
                                                        : "7" + rng.Digits(3) + serial;
    } else if (c == "DHL") {
      t = StartsWith(s.key, "DHL-ECOM") ? "GM" + rng.Digits(9) + serial
                                        : "1" + rng.Digits(1) + serial;
    } else if (c == "OnTrac") {
      t = "C" + rng.Digits(6) + serial;
    } else if (c == "LSO") {
      t = "ZY" + serial;
    } else if (c == "Spee-Dee") {
      t = "SP" + rng.Digits(5) + serial;
    } else if (c == "Purolator") {
      t = "3" + rng.Digits(3) + serial;
    } else if (c == "Canada Post") {
      t = "7" + rng.Digits(7) + serial;
    } else if (c == "Estes") {
      t = "0" + rng.Digits(1) + serial;
    } else if (c == "None" || c.empty()) {
      return Null(jet::ColumnType::kText);
    } else {
      // Any other carrier: its initials, a dash and the serial.
      std::string initials;
      bool word_start = true;
      for (char ch : c) {
        if (word_start && ch != ' ') initials += ch;
        word_start = ch == ' ';
      }
      return Text(Upper(initials) + "-" + serial);
    }
    return Text(t + CheckDigit(t));
  }

 private:
  // A bijection on 0..9,999,999 that looks random: a Feistel network on 24
  // bits, applied again while the result is out of range (it comes back in
  // range, since it permutes the 24-bit numbers).
  uint32_t Serial(uint32_t n) const {
    uint32_t x = n;
    do {
      uint32_t left = x >> 12, right = x & 0xFFF;
      for (uint64_t round = 0; round < 4; ++round) {
        uint64_t z = key_ + (uint64_t(right) << 8 | round);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        const uint32_t next = left ^ uint32_t((z ^ (z >> 31)) & 0xFFF);
        left = right;
        right = next;
      }
      x = left << 12 | right;
    } while (x >= 10000000);
    return x;
  }

  uint64_t key_;
  std::string ups_accounts_[3];
  std::string usps_mailers_[2];
};

// --- Names and notes ---

const char* const kFirstNames[] = {
    "José",     "Zoë",     "Søren",     "François", "Björn", "Chloé",   "Jürgen",   "Agnès",
    "Ñuria",    "Łukasz",  "Renée",     "Mårten",   "Inés",  "Émile",   "Václav",   "Hélène",
    "Jörg",     "Siân",    "Ørjan",     "Anaïs",    "Raúl",  "Maëlle",  "Tomás",    "Günther",
    "Ana",      "James",   "Mary",      "Robert",   "Linda", "Michael", "Patricia", "David",
    "Jennifer", "William", "Elizabeth", "Thomas",   "Sarah", "Daniel",  "Karen",    "Thảo"};
const char* const kLastNames[] = {
    "Muñoz",   "Müller",    "Østergaard", "Lefèvre",   "Åkesson",   "Dubois", "Schäfer",
    "García",  "Peña",      "Nørgaard",   "Côté",      "Gonçalves", "Jäger",  "Brontë",
    "O'Brien", "Smith",     "Johnson",    "Williams",  "Brown",     "Jones",  "Miller",
    "Davis",   "Rodríguez", "Martínez",   "Hernández", "López",     "Wilson", "Anderson",
    "Taylor",  "Thomas",    "Moore",      "Jackson",   "Martin",    "Lee",    "Thompson",
    "White",   "Harris",    "Sánchez",    "Clark",     "Wójcik"};
const char* const kCompanyWords[] = {"Café",     "Bäckerei", "Señor",   "Nordisk",  "Crème",
                                     "Atelier",  "Fjord",    "Ñandú",   "Pacific",  "Summit",
                                     "Harbor",   "Maple",    "Granite", "Lakeside", "Copper",
                                     "Bluebird", "Frost",    "Élan",    "Hütte",    "Brødrene"};
const char* const kCompanyForms[] = {
    "GmbH",     "S.A.",       "AB",       "ApS",      "Ltd",        "LLC",
    "Inc.",     "& Co.",      "& Söhne",  "Imports",  "Supply Co.", "Trading",
    "Boutique", "Outfitters", "Hardware", "Pharmacy", "Dental Lab", "Garage"};
const char* const kShortNotes[] = {"Leave at back door",
                                   "Signature required",
                                   "Call before delivery",
                                   "Fragile: glassware",
                                   "Residential delivery",
                                   "Deliver to reception, 2nd floor",
                                   "Customer will collect from depot",
                                   "Réexpédié : adresse corrigée",
                                   "Zustellung nur werktags",
                                   "Do not bend — photographs",
                                   "Hazmat: lithium batteries (UN3481)",
                                   "Gate code 4411",
                                   "Replacement for lost parcel",
                                   "Return label enclosed",
                                   "Insured — declared value on file",
                                   "Saturday delivery requested",
                                   "Dry ice, 2.5 kg",
                                   "Address verified by phone",
                                   "Entrega en portería",
                                   "Left with neighbour at no. 12"};
const char* const kLogEvents[] = {
    "Label printed at the counter; weight checked on the scale.",
    "Picked up by the driver; scan received.",
    "Arrived at the carrier's sort facility.",
    "Departed the sort facility; in transit to the destination.",
    "Customer called: asked for delivery after 3 pm. Noted on the carrier's site.",
    "Delivery attempted; nobody home. Notice left at the door.",
    "Address corrected: suite number added (confirmed with the consignee by phone).",
    "Claim opened for damage: outer box crushed, two items broken. Photos attached to the claim.",
    "Carrier asked for the invoice and the packing list; both sent by e-mail.",
    "Refund of the shipping charge approved; credit to follow on the next statement.",
    "Held at customs: commercial invoice missing the HS codes. Resent with codes filled in.",
    "Customs cleared; duties paid by the consignee (DDU).",
    "Redelivery booked for the next business day.",
    "Out for delivery.",
    "Delivered; signed by the receptionist at the front desk."};

std::string Consignee(Rng& rng) {
  std::string name;
  if (rng.Chance(0.35)) {
    name = std::string(rng.Pick(kCompanyWords)) + " " + rng.Pick(kLastNames) + " " +
           rng.Pick(kCompanyForms);
  } else {
    name = std::string(rng.Pick(kFirstNames)) + " " + rng.Pick(kLastNames);
    if (rng.Chance(0.08)) name += std::string("-") + rng.Pick(kLastNames);
  }
  return name;
}

// "2023-05-04 10:12", some days and hours after `day` (a Jet day count).
std::string LogStamp(double day) {
  return jet::FormatDateTime(day).substr(0, 16).replace(10, 1, " ");
}

// A handling log of at least `length` characters: dated entries on lines of
// their own, the events in the order they usually come.
std::string HandlingLog(Rng& rng, double shipped, size_t length) {
  std::string log;
  double at = shipped;
  int entry = 1;
  size_t event = 0;
  constexpr size_t kEvents = sizeof kLogEvents / sizeof kLogEvents[0];
  while (log.size() < length) {
    at += double(rng.Between(20, 1440)) / 1440.0;  // 20 minutes to a day later
    log += LogStamp(std::floor(at * 1440.0) / 1440.0) + "  #" + std::to_string(entry++) + " " +
           kLogEvents[event] + "\r\n";
    event = (event + size_t(rng.Between(1, 3))) % kEvents;
  }
  return log;
}

jet::Value Note(Rng& rng, long row, double shipped) {
  if (row % 10000 == 5000) {
    return Text(HandlingLog(rng, shipped, size_t(rng.Between(6000, 10000))),
                jet::ColumnType::kMemo);
  }
  const double u = rng.Uniform();
  if (u < 0.86) return Null(jet::ColumnType::kMemo);
  if (u < 0.98) return Text(rng.Pick(kShortNotes), jet::ColumnType::kMemo);
  return Text(HandlingLog(rng, shipped, size_t(rng.Between(200, 2000))), jet::ColumnType::kMemo);
}

// --- Tables ---

// Creates the sample's table `name` and copies its rows in.
jet::Status CopySampleTable(jet::Database& db, const std::string& dir, const std::string& name,
                            std::vector<std::vector<jet::Value>>* rows) {
  JET_ASSIGN_OR_RETURN(std::string schema, ReadFile(dir + "/schema/" + name + ".json"));
  JET_ASSIGN_OR_RETURN(jet::TableSpec design, jet::TableSpecFromJson(schema));
  JET_RETURN_IF_ERROR(jet::CreateTable(db, design));
  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db, name));
  const std::string path = dir + "/rows/" + name + ".jsonl";
  JET_ASSIGN_OR_RETURN(std::string text, ReadFile(path));
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    JET_ASSIGN_OR_RETURN(jet::JsonValue json, jet::ParseJson(line));
    std::vector<jet::Value> row;
    JET_RETURN_IF_ERROR(jet::RowFromJson(writer->table(), json, &row));
    rows->push_back(std::move(row));
  }
  return writer->InsertBatch(*rows);
}

// The services of Master, busiest first as Master lists them; inactive ones
// were used only now and then.
std::vector<Service> ServicesOf(const jet::TableDef& master,
                                const std::vector<std::vector<jet::Value>>& rows, Rng& rng) {
  std::vector<Service> out;
  int rank = 0;
  for (const auto& row : rows) {
    Service s;
    const jet::Value* key = Field(master, row, "SERVICE");
    if (!key || key->null || key->bytes.empty()) continue;
    s.key = key->bytes;
    if (const jet::Value* v = Field(master, row, "CARRIER"); v && !v->null) s.carrier = v->bytes;
    if (const jet::Value* v = Field(master, row, "RATE"); v && !v->null) s.rate = v->integer;
    if (const jet::Value* v = Field(master, row, "MAXWEIGHT"); v && !v->null && v->real > 1) {
      s.max_weight = v->real;
    }
    const jet::Value* active = Field(master, row, "ACTIVE");
    s.share = (active && !active->null && !active->boolean) ? 0.05 : 12.0 / (rank++ + 3);
    s.code = s.carrier == "UPS" ? rng.Digits(2) : rng.Digits(3);
    if (s.rate <= 0) s.rate = 10 * 10000;
    out.push_back(std::move(s));
  }
  return out;
}

jet::TableSpec ShipmentsDesign() {
  using T = jet::ColumnType;
  jet::TableSpec design;
  design.name = "Shipments";
  jet::ColumnSpec id{"ID", T::kLong};
  id.autonumber = true;
  design.columns = {id,
                    {"TRACKING", T::kText, 60},
                    {"SERVICE", T::kText, 40},
                    {"WEIGHT", T::kDouble},
                    {"SHIPDATE", T::kDateTime},
                    {"PIECES", T::kInteger},
                    {"COST", T::kCurrency},
                    {"DELIVERED", T::kBoolean},
                    {"CONSIGNEE", T::kText, 100},
                    {"NOTE", T::kMemo}};
  design.indexes = {{"PrimaryKey", {{"ID"}}, true},
                    {"TRACKING", {{"TRACKING"}}, false, true},
                    {"SERVICE", {{"SERVICE"}}}};
  return design;
}

class ShipmentMaker {
 public:
  ShipmentMaker(std::vector<Service> services, long rows, Rng& rng)
      : services_(std::move(services)), rows_(rows), tracking_(rng) {
    double total = 0;
    for (const Service& s : services_) cumulative_.push_back(total += s.share);
    // Monday to Saturday, 2019-01-02 to 2024-12-31. Day 0 (1899-12-30)
    // was a Saturday.
    double first = 0, last = 0;
    jet::DateTimeToJet({2019, 1, 2}, &first);
    jet::DateTimeToJet({2024, 12, 31}, &last);
    for (double d = first; d <= last; d += 1) {
      if (int64_t(d) % 7 != 1) days_.push_back(d);
    }
  }

  std::vector<jet::Value> Row(long n, Rng& rng) const {
    using T = jet::ColumnType;
    const Service& s = PickService(rng);
    const size_t day_index = size_t(double(n) * double(days_.size()) / double(rows_));
    jet::DateTimeParts when = jet::DateTimeFromJet(days_[day_index]);
    when.hour = int(rng.Between(7, 18));
    when.minute = int(rng.Between(0, 59));
    when.second = int(rng.Between(0, 59));
    double shipped = 0;
    jet::DateTimeToJet(when, &shipped);

    // Envelopes, parcels and a few heavy ones, in pounds to 3 decimals.
    double weight;
    const double u = rng.Uniform(), v = rng.Uniform();
    if (u < 0.25) {
      weight = 0.05 + 0.95 * v;
    } else if (u < 0.88) {
      weight = 1 + 19 * v * v;
    } else {
      weight = 20 + (s.max_weight - 20) * v * v * v;
    }
    weight = std::min(std::round(weight * 1000) / 1000, s.max_weight);

    const double p = rng.Uniform();
    const int64_t pieces = p < 0.70   ? 1
                           : p < 0.90 ? rng.Between(2, 4)
                           : p < 0.99 ? rng.Between(5, 12)
                                      : rng.Between(13, 60);

    // Base rate per piece, a charge per pound and a little of fuel and
    // handling, in cents.
    const int64_t rate_cents = s.rate / 100;
    const int64_t cents = rate_cents + (pieces - 1) * rate_cents / 2 +
                          int64_t(std::llround(weight * double(35 + rate_cents / 20))) +
                          rng.Between(0, 299);

    const bool recent = day_index + 10 >= days_.size();
    const bool delivered = rng.Chance(recent ? 0.35 : 0.985);

    std::vector<jet::Value> row;
    row.reserve(10);
    row.push_back(Null(T::kLong));  // autonumber
    row.push_back(tracking_.For(s, n, rng));
    row.push_back(Text(s.key));
    row.push_back(Real(T::kDouble, weight));
    row.push_back(Real(T::kDateTime, shipped));
    row.push_back(Integer(T::kInteger, pieces));
    row.push_back(Integer(T::kCurrency, cents * 100));
    row.push_back(Boolean(delivered));
    row.push_back(Text(Consignee(rng)));
    row.push_back(Note(rng, n, shipped));
    return row;
  }

 private:
  const Service& PickService(Rng& rng) const {
    const double x = rng.Uniform() * cumulative_.back();
    const size_t i =
        size_t(std::upper_bound(cumulative_.begin(), cumulative_.end(), x) - cumulative_.begin());
    return services_[std::min(i, services_.size() - 1)];
  }

  std::vector<Service> services_;
  std::vector<double> cumulative_;
  std::vector<double> days_;
  long rows_;
  TrackingNumbers tracking_;
};

// CreateTable stamps each new table's catalog row with the time it ran; a
// fixed date instead keeps the file the same from run to run.
jet::Status StampCatalog(jet::Database& db, const std::vector<std::string>& tables) {
  double stamp = 0;
  jet::DateTimeToJet({2025, 1, 1}, &stamp);
  JET_ASSIGN_OR_RETURN(auto catalog, db.GetTable("MSysObjects"));
  const jet::ColumnDef* name = catalog->FindColumn("Name");
  const jet::ColumnDef* created = catalog->FindColumn("DateCreate");
  const jet::ColumnDef* updated = catalog->FindColumn("DateUpdate");
  if (!name || !created || !updated) return jet::Status::Corrupt("MSysObjects lacks its dates");
  const auto at = [&](const jet::ColumnDef* c) { return size_t(c - catalog->columns.data()); };
  std::vector<std::pair<jet::RowId, std::vector<jet::Value>>> changes;
  {
    jet::TableScanner scan(db, catalog);
    std::vector<jet::Value> row;
    jet::RowId id;
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, scan.Next(&row, &id));
      if (!more) break;
      const jet::Value& n = row[at(name)];
      if (n.null || std::find(tables.begin(), tables.end(), n.bytes) == tables.end()) continue;
      row[at(created)].real = row[at(updated)].real = stamp;
      changes.emplace_back(id, row);
    }
  }
  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db, "MSysObjects"));
  for (auto& [id, row] : changes) JET_RETURN_IF_ERROR(writer->Update(id, std::move(row)));
  db.ForgetCatalog();
  return jet::Status::Ok();
}

jet::Status Generate(const std::string& path, const std::string& sample, long rows, uint64_t seed) {
  JET_RETURN_IF_ERROR(jet::CreateDatabase(path, jet::JetVersion::kJet4));
  jet::Database::Options options;
  options.writable = true;
  options.cache_pages = 4096;
  JET_ASSIGN_OR_RETURN(auto db, jet::Database::Open(path, options));
  Rng rng(seed);

  std::vector<std::vector<jet::Value>> master_rows, panel_rows;
  JET_RETURN_IF_ERROR(CopySampleTable(*db, sample, "Master", &master_rows));
  JET_RETURN_IF_ERROR(CopySampleTable(*db, sample, "Panel", &panel_rows));
  JET_ASSIGN_OR_RETURN(auto master, db->GetTable("Master"));
  std::vector<Service> services = ServicesOf(*master, master_rows, rng);
  if (services.empty()) return jet::Status::InvalidArgument("The sample's Master has no services");

  JET_RETURN_IF_ERROR(jet::CreateTable(*db, ShipmentsDesign()));
  JET_RETURN_IF_ERROR(StampCatalog(*db, {"Master", "Panel", "Shipments"}));

  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(*db, "Shipments"));
  ShipmentMaker maker(std::move(services), rows, rng);
  std::vector<std::vector<jet::Value>> batch;
  batch.reserve(kBatchRows);
  for (long n = 0; n < rows; ++n) {
    batch.push_back(maker.Row(n, rng));
    if (batch.size() == kBatchRows || n + 1 == rows) {
      JET_RETURN_IF_ERROR(writer->InsertBatch(std::move(batch)));
      batch.clear();
      batch.reserve(kBatchRows);
      if ((n + 1) % 1000000 == 0 && n + 1 < rows) {
        std::fprintf(stderr, "make_bench_db: %ld of %ld rows\n", n + 1, rows);
      }
    }
  }
  return jet::Status::Ok();
}

bool ParseNumber(const char* text, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno || end == text || *end || n < 0 || n > max) return false;
  *out = n;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 300000, seed = 1;
  std::string sample = AFC_SAMPLE_DIR, out;
  const char* usage = "usage: make_bench_db [--rows N] [--seed S] [--sample DIR] OUT.mdb";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--rows" && has_value) {
      if (!ParseNumber(argv[++i], kMaxRows, &rows) || rows < 1) {
        return Fail("--rows wants a number from 1 to 10000000", 2);
      }
    } else if (a == "--seed" && has_value) {
      if (!ParseNumber(argv[++i], 2147483647L, &seed)) return Fail("--seed wants a number", 2);
    } else if (a == "--sample" && has_value) {
      sample = argv[++i];
    } else if (a == "-h" || a == "--help") {
      std::printf("%s\n", usage);
      return 0;
    } else if (a.rfind("-", 0) != 0 && out.empty()) {
      out = a;
    } else {
      return Fail(usage, 2);
    }
  }
  if (out.empty()) return Fail(usage, 2);

  const auto start = std::chrono::steady_clock::now();
  if (jet::Status s = Generate(out, sample, rows, uint64_t(seed)); !s.ok()) {
    return Fail(s.ToString());
  }
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto info = jet::Database::ReadInfo(out);
  const double mib = info.ok() ? double(info->page_count) * info->page_size / 1048576.0 : 0;
  std::printf("Wrote %s: Shipments %ld rows, seed %ld, %.1f MiB, %.1f s (%.0f rows/s)\n",
              out.c_str(), rows, seed, mib, secs, double(rows) / secs);
  return 0;
}
