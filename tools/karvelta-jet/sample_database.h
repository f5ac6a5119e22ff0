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
//            stok (Long), with the primary key "PrimaryKey" on kod, as the
//            sales files have it: a table the update run leaves alone
// the older layout of the sales program, before the update run. Text and
// memo columns have Required = No, AllowZeroLength = Yes and Unicode
// compression on. satislar gets N rows (Turkish product names, a memo of
// several thousand characters in its first row, longer memos now and then,
// empty and missing ones), fisno one row per ten sales whose toplam is the
// sum of theirs (satislar.fisno names fisno.fisno, from 1001 on), urunler 30
// products. The content depends only on N.
//
// A bloated sample (SampleKind::Bloated) looks like a file in use for
// years: the N sales and their receipts are written in batches, and after
// each batch about a fifth of its receipts are cancelled (their fisno row
// and their sales deleted, whole runs of receipts at times, always the last
// receipt, so that each table's highest number is among the dead), and of
// the sales kept some have their memo replaced by a correction or removed;
// then 2400 discontinued products are added to urunler after its 30 and all
// but one run of 400 of them deleted. So the file holds dead rows, freed
// long values (LVAL rows and whole LVAL pages without a live row), and the
// index pages urunler's key emptied, given back as free pages. Every fifth
// sale carries a memo of a few hundred characters (one LVAL row), so that
// freed long values are many. Its twin (SampleKind::Twin) is its live
// content written fresh: the same tables, columns, index and rows with the
// same values, auto-increment numbers included, and nothing dead; only the
// counters differ (the twin's stop at its highest live number).
//
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

enum class SampleKind { Plain, Bloated, Twin };

// Creates the three tables in a database that has no user tables and fills
// them with `rows` sales, as `kind` says. Rows go in through batched commits
// (RowAppender, TableWriter), so memory stays flat however many there are.
void fillSampleDatabase(engine::Env& env, const std::string& path, const std::string& password,
                        std::size_t rows, SampleKind kind = SampleKind::Plain);

// Writes DIR/satis.mdb (through createDatabase, under a temporary name
// renamed into place once complete, so that DIR never holds half a sample)
// and DIR/PLX.dll. Returns the database's full path. Error when DIR is not
// an existing folder or DIR/satis.mdb exists already; an existing PLX.dll
// is replaced.
std::string writeSample(engine::Env& env, const std::string& dir, std::size_t rows,
                        SampleKind kind = SampleKind::Plain);

}  // namespace jettool
