// The demo sales database: what `karvelta-jet new-sample DIR [--rows N]`
// writes, so that the program can be tried, tested and measured without a
// real sales database at hand.
//
// DIR/satis.mdb, password "zorpelnik", holds in catalog order:
//   fisno    no (auto-increment Long), fisno (Long), tarih (Date/Time),
//            toplam (Currency), musteriadi (Text 50)
//   satislar no (auto-increment Long), tarih (Date/Time), urun (Text 100),
//            fiyat (Currency), adet (Text 20), toplam (Currency),
//            fisno (Long), aciklama (Memo)
//   urunler  no (auto-increment Long), kod (Text 20), ad (Text 100),
//            stok (Long): a table the update run leaves alone
// the older layout of the sales program, before the update run. Text and
// memo columns have Required = No, AllowZeroLength = Yes and Unicode
// compression on. satislar gets N rows (Turkish product names, a memo of
// several thousand characters in its first row, longer memos now and then,
// empty and missing ones), fisno one row per ten sales whose toplam is the
// sum of theirs (satislar.fisno names fisno.fisno, from 1001 on), urunler 30
// products. The content depends only on N.
//
// DIR/PLX.dll is the settings file naming the database's full path
// (section ayar, key ip), as the program beside it reads it.
#pragma once

#include <cstddef>
#include <string>

namespace engine {
class Env;
}

namespace jettool {

inline constexpr const char* kSampleFileName = "satis.mdb";
inline constexpr const char* kSamplePassword = "zorpelnik";
inline constexpr std::size_t kSampleDefaultRows = 300;

// Creates the three tables in a database that has no user tables and fills
// them with `rows` sales.
void fillSampleDatabase(engine::Env& env, const std::string& path, const std::string& password,
                        std::size_t rows);

// Writes DIR/satis.mdb (through createDatabase, under a temporary name
// renamed into place once complete, so that DIR never holds half a sample)
// and DIR/PLX.dll. Returns the database's full path. Error when DIR is not
// an existing folder or DIR/satis.mdb exists already; an existing PLX.dll
// is replaced.
std::string writeSample(engine::Env& env, const std::string& dir, std::size_t rows);

}  // namespace jettool
