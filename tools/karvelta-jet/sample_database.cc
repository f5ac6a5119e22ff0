#include "tools/karvelta-jet/sample_database.h"

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
#include "engine/jet_database.h"
#include "engine/row_appender.h"
#include "engine/unicode_compression.h"

namespace jettool {
namespace {

using engine::FieldValue;

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

}  // namespace

void fillSampleDatabase(engine::Env& env, const std::string& path, const std::string& password,
                        std::size_t rows) {
  using engine::FieldType;
  engine::JetDatabase db(env, path, false, password);
  if (!db.tables().empty()) throw engine::Error("the database has tables already");
  const std::uint32_t fisno =
      makeTable(env, db, "fisno",
                {field("fisno", FieldType::Long), field("tarih", FieldType::DateTime),
                 field("toplam", FieldType::Currency), field("musteriadi", FieldType::Text, "50")});
  const std::uint32_t satislar = makeTable(
      env, db, "satislar",
      {field("tarih", FieldType::DateTime), field("urun", FieldType::Text, "100"),
       field("fiyat", FieldType::Currency), field("adet", FieldType::Text, "20"),
       field("toplam", FieldType::Currency), field("fisno", FieldType::Long),
       field("aciklama", FieldType::Memo)});
  const std::uint32_t urunler =
      makeTable(env, db, "urunler",
                {field("kod", FieldType::Text, "20"), field("ad", FieldType::Text, "100"),
                 field("stok", FieldType::Long)});

  {
    engine::RowAppender out(db.channel(), satislar);
    for (std::size_t i = 0; i < rows; ++i) {
      const Sale s = saleOf(i);
      const std::size_t r = i / kSalesPerReceipt;
      out.append({{"tarih", FieldValue::ofDateTime(receiptDate(r))},
                  {"urun", FieldValue::ofText(s.product->ad)},
                  {"fiyat", FieldValue::ofCurrency(s.fiyat)},
                  {"adet", FieldValue::ofText(std::to_string(s.adet))},
                  {"toplam", FieldValue::ofCurrency(s.toplam)},
                  {"fisno", FieldValue::ofLong(static_cast<std::int32_t>(1001 + r))},
                  {"aciklama", memoOf(i)}});
    }
    out.commit();
  }
  {
    engine::RowAppender out(db.channel(), fisno);
    for (std::size_t r = 0; r * kSalesPerReceipt < rows; ++r) {
      std::int64_t sum = 0;
      for (std::size_t i = r * kSalesPerReceipt; i < rows && i < (r + 1) * kSalesPerReceipt; ++i)
        sum += saleOf(i).toplam;
      out.append({{"fisno", FieldValue::ofLong(static_cast<std::int32_t>(1001 + r))},
                  {"tarih", FieldValue::ofDateTime(receiptDate(r))},
                  {"toplam", FieldValue::ofCurrency(sum)},
                  {"musteriadi", FieldValue::ofText(kCustomers[r % kCustomers.size()])}});
    }
    out.commit();
  }
  {
    engine::RowAppender out(db.channel(), urunler);
    for (std::size_t k = 0; k < kProducts.size(); ++k)
      out.append({{"kod", FieldValue::ofText(kProducts[k].kod)},
                  {"ad", FieldValue::ofText(kProducts[k].ad)},
                  {"stok", FieldValue::ofLong(static_cast<std::int32_t>(40 + (k * 37) % 200))}});
    out.commit();
  }
}

std::string writeSample(engine::Env& env, const std::string& dir, std::size_t rows) {
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
    fillSampleDatabase(env, partial, kSamplePassword, rows);
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
