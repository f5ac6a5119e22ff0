#include "engine/property_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/long_value.h"
#include "engine/tests/fixture_copy.h"

namespace engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes blobOf(testing::FixtureCopy& db, const CatalogEntry& entry) {
  if (entry.lvProp.empty()) return {};
  return readLongValue(entry.lvProp, pageSourceOf(db.channel()));
}

TEST(PropertyMaps, SalesColumnProperties) {
  testing::FixtureCopy db("sales-small.mdb");
  const PropertyMaps satislar = PropertyMaps::parse(blobOf(db, db.table("satislar")));
  for (const char* column : {"urun", "adet", "aciklama"}) {
    ASSERT_NE(satislar.column(column), nullptr) << column;
    EXPECT_FALSE(satislar.required(column)) << column;
    EXPECT_TRUE(satislar.allowZeroLength(column)) << column;
    ASSERT_NE(satislar.column(column)->find("Required"), nullptr);
  }
  EXPECT_TRUE(satislar.allowZeroLength("ACIKLAMA"));
  EXPECT_FALSE(satislar.allowZeroLength("fiyat"));

  const PropertyMaps urunler = PropertyMaps::parse(blobOf(db, db.table("urunler")));
  EXPECT_TRUE(urunler.allowZeroLength("kod"));
  EXPECT_TRUE(urunler.allowZeroLength("ad"));

  const PropertyMaps fisno = PropertyMaps::parse(blobOf(db, db.table("fisno")));
  for (const auto& map : fisno.maps()) EXPECT_FALSE(map.hasName) << map.name;
  EXPECT_FALSE(fisno.allowZeroLength("musteriadi"));
}

TEST(PropertyMaps, SerializeGivesBackTheStoredBlob) {
  for (const char* file : {"sales-small.mdb", "sales-updated.mdb", "testV2000.mdb",
                           "delColTestV2000.mdb", "access2000-blank.mdb"}) {
    testing::FixtureCopy db(file);
    for (const CatalogEntry& entry : db.catalog().entries()) {
      const Bytes blob = blobOf(db, entry);
      EXPECT_EQ(PropertyMaps::parse(blob).serialize(), blob.empty() ? Bytes{} : blob)
          << file << " " << entry.name;
    }
  }
}

TEST(PropertyMaps, AddedPropertiesReadBack) {
  testing::FixtureCopy db("sales-small.mdb");
  PropertyMaps maps = PropertyMaps::parse(blobOf(db, db.table("satislar")));
  maps.setColumnBoolean("yeni", "Required", false);
  maps.setColumnBoolean("yeni", "AllowZeroLength", true);
  maps.setColumnBoolean("urun", "AllowZeroLength", false);
  maps.setColumnBoolean("urun", "Sıra", true);  // a name new to the pool
  const PropertyMaps again = PropertyMaps::parse(maps.serialize());
  EXPECT_TRUE(again.allowZeroLength("yeni"));
  EXPECT_FALSE(again.required("yeni"));
  EXPECT_FALSE(again.allowZeroLength("urun"));
  ASSERT_NE(again.column("urun")->find("Sıra"), nullptr);
  EXPECT_TRUE(again.column("urun")->find("Sıra")->booleanValue());
  EXPECT_TRUE(again.allowZeroLength("adet"));

  PropertyMaps fresh;
  fresh.setColumnBoolean("a", "AllowZeroLength", true);
  EXPECT_TRUE(PropertyMaps::parse(fresh.serialize()).allowZeroLength("a"));
}

TEST(PropertyMaps, DamagedBlobsAreRefused) {
  EXPECT_THROW(PropertyMaps::parse(Bytes{'X', 'Y', 'Z', 0}), Error);
  EXPECT_THROW(PropertyMaps::parse(Bytes{'M', 'R'}), Error);
  PropertyMaps maps;
  maps.setColumnBoolean("a", "Required", true);
  const Bytes good = maps.serialize();
  // Every truncation either parses or is refused; none reads past the end.
  for (std::size_t n = 4; n < good.size(); ++n) {
    try {
      PropertyMaps::parse(std::span(good).first(n));
    } catch (const Error&) {
    }
  }
  // A block length beyond the blob.
  Bytes bad = good;
  bad[4] = 0xFF;
  EXPECT_THROW(PropertyMaps::parse(bad), Error);
  // A property naming an entry beyond the pool: the last property's index.
  bad = good;
  bad[bad.size() - 5] = 0x07;
  EXPECT_THROW(PropertyMaps::parse(bad), Error);
}

}  // namespace
}  // namespace engine
