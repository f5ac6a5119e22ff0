#include "tools/karvelta-jet/sample_database.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/catalog_writer.h"
#include "engine/database_creator.h"
#include "engine/engine.h"
#include "engine/env.h"
#include "engine/error.h"
#include "engine/field_addition.h"
#include "engine/in_use.h"
#include "engine/index_addition.h"
#include "engine/jet_database.h"
#include "engine/long_value_writer.h"
#include "engine/row_appender.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"
#include "engine/unicode_compression.h"

namespace jettool {
namespace {

using engine::FieldValue;
using engine::FieldValues;

struct Product {
  const char* kod;
  const char* ad;
  std::int64_t price;  // ten-thousandths
};

constexpr std::array<Product, 30> kProducts{{
    {"U001", "Çay (1 kg)", 1895000},
    {"U002", "Toz şeker 5 kg", 1349900},
    {"U003", "Ayçiçek yağı 2 lt", 1575000},
    {"U004", "Süt 1 lt", 325000},
    {"U005", "Beyaz peynir", 1899999},
    {"U006", "İçme suyu 5 lt", 150000},
    {"U007", "Ekmek", 100000},
    {"U008", "Yumurta (30'lu)", 1200000},
    {"U009", "Zeytin ağırlıklı kahvaltılık", 945050},
    {"U010", "Tereyağı 500 g", 2100000},
    {"U011", "Pirinç baldo", 875000},
    {"U012", "Kırmızı mercimek", 620000},
    {"U013", "Nohut", 540000},
    {"U014", "Makarna", 189900},
    {"U015", "Domates salçası", 455000},
    {"U016", "Bulgur pilavlık", 390000},
    {"U017", "Un 5 kg", 1100000},
    {"U018", "Türk kahvesi 100 g", 450000},
    {"U019", "Lokum (gül)", 799900},
    {"U020", "Simit", 75000},
    {"U021", "Ayran", 120000},
    {"U022", "Şalgam suyu", 250000},
    {"U023", "Kuru incir", 1350000},
    {"U024", "Fındık içi", 3299900},
    {"U025", "Çikolata", 299900},
    {"U026", "Deterjan", 1999900},
    {"U027", "Sabun", 149900},
    {"U028", "Kağıt havlu", 899900},
    {"U029", "Diş macunu", 425000},
    {"U030", "Gazoz", 180000},
}};

constexpr std::array<const char*, 12> kCustomers{{
    "Ayşe Yılmaz", "Mehmet Öztürk", "Gülşen Çelik", "İbrahim Şahin", "Ömer Güneş",
    "Şule Doğan", "Çağla Kaya", "Ümit Arslan", "Işıl Koç", "Oğuz Aydın", "Peşin müşteri",
    "Zeynep Kılıç",
}};

constexpr const char* kSentence =
    "Müşteri siparişi teslim edildi; ödeme nakit alındı. Ürünlerin iadesi on dört gün "
    "içinde kabul edilir. Şikâyet ve öneriler için mağaza yöneticisine başvurunuz.";

// Receipt r (from 0) covers sales 10 r .. 10 r + 9.
constexpr std::size_t kSalesPerReceipt = 10;

struct Sale {
  std::int64_t fiyat;
  int adet;
  std::int64_t toplam;
  const Product* product;
};

Sale saleOf(std::size_t i) {
  const Product& p = kProducts[(i * 7 + i / 30) % kProducts.size()];
  Sale s{p.price, static_cast<int>(1 + i % 5), 0, &p};
  if (i % 97 == 96) s.fiyat = -s.fiyat;  // a return
  s.toplam = s.fiyat * s.adet;
  return s;
}

double receiptDate(std::size_t r) {
  static const double start = engine::jetDateTime(2024, 1, 2, 9, 0, 0);
  // 47 minutes apart, so that times of day vary.
  return start + static_cast<double>(r) * 47.0 / 1440.0;
}

std::string longMemo(std::size_t characters) {
  std::string text;
  std::size_t line = 0;
  while (text.size() < characters) {
    text += std::to_string(++line) + ". " + kSentence + "\r\n";
  }
  return text;
}

FieldValue memoOf(std::size_t i) {
  if (i == 0) return FieldValue::ofText(longMemo(6000));
  if (i % 50 == 25) return FieldValue::ofText(longMemo(300));
  if (i % 13 == 12) return FieldValue::ofText("");
  if (i % 17 == 16) return FieldValue::null();
  return FieldValue::ofText(i % 2 == 0 ? "Kasa 1, nakit" : "Kasa 2, kredi kartı");
}

engine::NewField field(const std::string& name, engine::FieldType type, const std::string& size = {}) {
  engine::NewField f = engine::createField(name, static_cast<int>(type), size);
  f.required = false;
  if (type == engine::FieldType::Text || type == engine::FieldType::Memo) f.allowZeroLength = true;
  return f;
}

// A table with its auto-increment "no" and the other fields; returns its
// definition page.
std::uint32_t makeTable(engine::Env& env, engine::JetDatabase& db, const std::string& name,
                        const std::vector<engine::NewField>& fields) {
  engine::NewTableDef def{name, {}};
  engine::NewField no = engine::createField("no", static_cast<int>(engine::FieldType::Long));
  no.attributes = engine::kAutoIncrement;
  def.fields.push_back(no);
  const std::uint32_t page = engine::createTable(db.channel(), def, env.localTime());
  for (const engine::NewField& f : fields) {
    engine::addField(db, page, f);
    if (f.type == engine::FieldType::Text || f.type == engine::FieldType::Memo)
      engine::setUnicodeCompression(db.channel(), page, f.name, true);
  }
  return page;
}

void removeQuietly(engine::Env& env, const std::string& path) {
  try {
    env.remove(path);
  } catch (const engine::Error&) {
  }
}

// --- content ------------------------------------------------------------

FieldValues saleValues(std::size_t i, FieldValue memo) {
  const Sale s = saleOf(i);
  const std::size_t r = i / kSalesPerReceipt;
  return {{"tarih", FieldValue::ofDateTime(receiptDate(r))},
          {"urun", FieldValue::ofText(s.product->ad)},
          {"fiyat", FieldValue::ofCurrency(s.fiyat)},
          {"adet", FieldValue::ofText(std::to_string(s.adet))},
          {"toplam", FieldValue::ofCurrency(s.toplam)},
          {"fisno", FieldValue::ofLong(static_cast<std::int32_t>(1001 + r))},
          {"aciklama", std::move(memo)}};
}

FieldValues receiptValues(std::size_t r, std::size_t rows) {
  std::int64_t sum = 0;
  for (std::size_t i = r * kSalesPerReceipt; i < rows && i < (r + 1) * kSalesPerReceipt; ++i)
    sum += saleOf(i).toplam;
  return {{"fisno", FieldValue::ofLong(static_cast<std::int32_t>(1001 + r))},
          {"tarih", FieldValue::ofDateTime(receiptDate(r))},
          {"toplam", FieldValue::ofCurrency(sum)},
          {"musteriadi", FieldValue::ofText(kCustomers[r % kCustomers.size()])}};
}

FieldValues productValues(std::size_t k) {
  return {{"kod", FieldValue::ofText(kProducts[k].kod)},
          {"ad", FieldValue::ofText(kProducts[k].ad)},
          {"stok", FieldValue::ofLong(static_cast<std::int32_t>(40 + (k * 37) % 200))}};
}

// The bloated sample's history (see sample_database.h).
constexpr std::size_t kReceiptsPerBatch = 2000;
constexpr std::size_t kRetiredProducts = 2400;
constexpr std::size_t kRetiredRun = 400;

std::size_t receiptCount(std::size_t rows) { return (rows + kSalesPerReceipt - 1) / kSalesPerReceipt; }

bool cancelled(std::size_t r, std::size_t receipts) {
  return r + 1 == receipts || r % 9 == 4 || (r / 8) % 13 == 5;
}

FieldValue bloatedMemoOf(std::size_t i) {
  if (i % 5 == 2) return FieldValue::ofText(longMemo(200 + 40 * (i % 7)));
  return memoOf(i);
}

enum class MemoChange { None, Replaced, Removed };
MemoChange memoChangeOf(std::size_t i) {
  if (i == 0 || i % 11 == 3) return MemoChange::Replaced;
  if (i % 13 == 7) return MemoChange::Removed;
  return MemoChange::None;
}
std::string correctedMemo(std::size_t i) { return "Düzeltme " + std::to_string(i) + ": " + longMemo(250); }

// The memo a sale of the bloated sample holds in the end.
FieldValue finalMemoOf(std::size_t i) {
  switch (memoChangeOf(i)) {
    case MemoChange::Replaced: return FieldValue::ofText(correctedMemo(i));
    case MemoChange::Removed: return FieldValue::null();
    case MemoChange::None: break;
  }
  return bloatedMemoOf(i);
}

bool retiredProductKept(std::size_t k) { return (k / kRetiredRun) % 6 == 3; }
FieldValues retiredProductValues(std::size_t k) {
  const std::string n = std::to_string(100001 + k).substr(1);
  return {{"kod", FieldValue::ofText("X" + n)},
          {"ad", FieldValue::ofText("Eski ürün " + n)},
          {"stok", FieldValue::ofLong(0)}};
}

FieldValues numbered(FieldValues values, std::size_t no) {
  values.insert(values.begin(), {"no", FieldValue::ofLong(static_cast<std::int32_t>(no))});
  return values;
}

struct SampleTables {
  std::uint32_t fisno, satislar, urunler;
};

// Sets the memo of a sale: the old long value freed, the new one written as
// appended rows write theirs (long_value_writer.h).
void changeMemo(engine::PageChannel& channel, engine::TableWriter& writer, engine::RowId id,
                const FieldValue& memo) {
  const engine::TableDefinition& d = writer.definition();
  const engine::Column* column = d.findColumn("aciklama");
  const auto& maps = d.columnUsageMaps();
  const auto m = std::find_if(maps.begin(), maps.end(),
                              [&](const engine::ColumnUsageMaps& u) { return u.columnNumber == column->number; });
  if (m == maps.end()) throw engine::Error("aciklama has no long-value usage maps");
  const auto at = static_cast<std::size_t>(column - d.columns().data());
  std::vector<engine::RowValue> values = writer.readRow(id);
  if (values[at].kind == engine::RawValue::Kind::Bytes) engine::freeLongValue(channel, values[at].bytes);
  values[at] = engine::RowValue::null();
  if (memo.kind == FieldValue::Kind::Text)
    values[at] = engine::RowValue::of(engine::writeLongValue(
        channel, {m->ownedPages, m->freeSpacePages}, engine::encodeTextValue(memo.text, column->compressedUnicode()),
        engine::kMaxInlineLongValue));
  writer.updateRow(id, values);
}

void deleteRows(engine::PageChannel& channel, std::uint32_t table, const std::vector<engine::RowId>& ids) {
  engine::WriteTransaction tx(channel);
  engine::TableWriter writer(channel, table);
  for (const engine::RowId id : ids) writer.deleteRow(id);
  tx.commit();
}

void fillPlain(engine::PageChannel& channel, const SampleTables& t, std::size_t rows) {
  {
    engine::RowAppender out(channel, t.satislar);
    for (std::size_t i = 0; i < rows; ++i) out.append(saleValues(i, memoOf(i)));
    out.commit();
  }
  {
    engine::RowAppender out(channel, t.fisno);
    for (std::size_t r = 0; r < receiptCount(rows); ++r) out.append(receiptValues(r, rows));
    out.commit();
  }
  engine::RowAppender out(channel, t.urunler);
  for (std::size_t k = 0; k < kProducts.size(); ++k) out.append(productValues(k));
  out.commit();
}

void fillBloated(engine::PageChannel& channel, const SampleTables& t, std::size_t rows) {
  const std::size_t receipts = receiptCount(rows);
  for (std::size_t first = 0; first < receipts; first += kReceiptsPerBatch) {
    const std::size_t end = std::min(receipts, first + kReceiptsPerBatch);
    const std::size_t firstSale = first * kSalesPerReceipt;
    const std::size_t endSale = std::min(rows, end * kSalesPerReceipt);
    std::vector<engine::RowId> sales, receiptRows;
    {
      engine::RowAppender out(channel, t.satislar);
      for (std::size_t i = firstSale; i < endSale; ++i) sales.push_back(out.append(saleValues(i, bloatedMemoOf(i))).id);
      out.commit();
    }
    {
      engine::RowAppender out(channel, t.fisno);
      for (std::size_t r = first; r < end; ++r) receiptRows.push_back(out.append(receiptValues(r, rows)).id);
      out.commit();
    }
    engine::WriteTransaction tx(channel);
    engine::TableWriter salesWriter(channel, t.satislar);
    engine::TableWriter receiptWriter(channel, t.fisno);
    for (std::size_t r = first; r < end; ++r) {
      const bool gone = cancelled(r, receipts);
      for (std::size_t i = r * kSalesPerReceipt; i < endSale && i < (r + 1) * kSalesPerReceipt; ++i) {
        if (gone)
          salesWriter.deleteRow(sales[i - firstSale]);
        else if (memoChangeOf(i) != MemoChange::None)
          changeMemo(channel, salesWriter, sales[i - firstSale], finalMemoOf(i));
      }
      if (gone) receiptWriter.deleteRow(receiptRows[r - first]);
    }
    tx.commit();
  }
  std::vector<engine::RowId> retired;
  {
    engine::RowAppender out(channel, t.urunler);
    for (std::size_t k = 0; k < kProducts.size(); ++k) out.append(productValues(k));
    for (std::size_t k = 0; k < kRetiredProducts; ++k) {
      const engine::RowId id = out.append(retiredProductValues(k)).id;
      if (!retiredProductKept(k)) retired.push_back(id);
    }
    out.commit();
  }
  deleteRows(channel, t.urunler, retired);
}

void fillTwin(engine::PageChannel& channel, const SampleTables& t, std::size_t rows) {
  using engine::AutoNumbers;
  using engine::RowAppender;
  const std::size_t receipts = receiptCount(rows);
  {
    RowAppender out(channel, t.satislar, RowAppender::kDefaultPagesPerCommit, AutoNumbers::Given);
    for (std::size_t i = 0; i < rows; ++i)
      if (!cancelled(i / kSalesPerReceipt, receipts)) out.append(numbered(saleValues(i, finalMemoOf(i)), i + 1));
    out.commit();
  }
  {
    RowAppender out(channel, t.fisno, RowAppender::kDefaultPagesPerCommit, AutoNumbers::Given);
    for (std::size_t r = 0; r < receipts; ++r)
      if (!cancelled(r, receipts)) out.append(numbered(receiptValues(r, rows), r + 1));
    out.commit();
  }
  RowAppender out(channel, t.urunler, RowAppender::kDefaultPagesPerCommit, AutoNumbers::Given);
  for (std::size_t k = 0; k < kProducts.size(); ++k) out.append(numbered(productValues(k), k + 1));
  for (std::size_t k = 0; k < kRetiredProducts; ++k)
    if (retiredProductKept(k)) out.append(numbered(retiredProductValues(k), kProducts.size() + k + 1));
  out.commit();
}

}  // namespace

void fillSampleDatabase(engine::Env& env, const std::string& path, const std::string& password,
                        std::size_t rows, SampleKind kind) {
  using engine::FieldType;
  engine::JetDatabase db(env, path, false, password);
  if (!db.tables().empty()) throw engine::Error("the database has tables already");
  SampleTables t{};
  t.fisno = makeTable(env, db, "fisno",
                      {field("fisno", FieldType::Long), field("tarih", FieldType::DateTime),
                       field("toplam", FieldType::Currency), field("musteriadi", FieldType::Text, "50")});
  t.satislar = makeTable(env, db, "satislar",
                         {field("tarih", FieldType::DateTime), field("urun", FieldType::Text, "100"),
                          field("fiyat", FieldType::Currency), field("adet", FieldType::Text, "20"),
                          field("toplam", FieldType::Currency), field("fisno", FieldType::Long),
                          field("aciklama", FieldType::Memo)});
  t.urunler = makeTable(env, db, "urunler",
                        {field("kod", FieldType::Text, "20"), field("ad", FieldType::Text, "100"),
                         field("stok", FieldType::Long)});
  engine::addPrimaryKey(db.channel(), t.urunler, "kod");
  switch (kind) {
    case SampleKind::Plain: fillPlain(db.channel(), t, rows); break;
    case SampleKind::Bloated: fillBloated(db.channel(), t, rows); break;
    case SampleKind::Twin: fillTwin(db.channel(), t, rows); break;
  }
}

std::string writeSample(engine::Env& env, const std::string& dir, std::size_t rows, SampleKind kind) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec))
    throw engine::Error("'" + dir + "' is not an existing folder");
  const std::string path = (fs::absolute(dir) / kSampleFileName).lexically_normal().string();
  if (env.exists(path)) throw engine::Error("a file named '" + path + "' exists already");
  const std::string partial = path + ".sample";
  auto cleanUp = [&] {
    removeQuietly(env, partial);
    removeQuietly(env, engine::PageChannel::journalPath(partial));
    removeQuietly(env, engine::lockFilePath(partial));
  };
  cleanUp();
  try {
    engine::createDatabase(env, partial, kSamplePassword);
    fillSampleDatabase(env, partial, kSamplePassword, rows, kind);
    env.renameNoReplace(partial, path);
    env.syncDirectory(fs::path(path).parent_path().string());
  } catch (...) {
    cleanUp();
    throw;
  }
  const std::string settings = (fs::path(path).parent_path() / "PLX.dll").string();
  const std::string text = "[ayar]\r\nip=" + path + "\r\n";
  auto file = env.open(settings, engine::OpenMode::CreateOrTruncate);
  file->write(0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                               text.size()));
  file->sync();
  return path;
}

}  // namespace jettool
