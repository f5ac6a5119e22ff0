// Schema maintenance: table creation, field addition and the update run.
//
// The routines take no arguments of their own: they read the window model's
// input fields at the moment of the call and report into its lists and
// counters, exactly as the buttons of the window would.
#pragma once

#include <optional>
#include <string>

#include "engine/engine.h"
#include "window/model.h"

namespace schema {

inline constexpr const char* kPassword = "zorpelnik";

// The message of every schema operation started before a backup succeeded.
inline constexpr const char* kBackupFirst = "ÖNCE VERİTABANINI YEDEK ALINIZ";
// The message that ends the update run.
inline constexpr const char* kUpdateDone = " Güncelleme Bitti   ";

// What every routine works with: the window, its message boxes, the engine,
// and the program's directory (where the settings file lies; none when it
// could not be found, and then every routine finds no settings).
struct Context {
  window::Model& model;
  window::MessageService& messages;
  engine::Engine& engine;
  std::optional<std::string> programDir;
};

// The action of TABLO OLUŞTUR: creates the table named in tabloismi with its
// auto-increment field "no".
void tabloolustur(Context& ctx);

// Adds the field named in alanismi, of the type selected in verituru, to the
// table named in tabloismi.
void alanekle(Context& ctx);

// The action of TABLO VE ALANLARI GÜNCELLE: the update run over the catalogue.
void basla(Context& ctx);

}  // namespace schema
