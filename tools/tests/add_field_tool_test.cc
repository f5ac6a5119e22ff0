// karvelta-jet add-field: silent on success, the engine's message and a
// non-zero exit on a refusal, the file untouched then.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/jet_database.h"
#include "tools/karvelta-jet/jet_tool.h"

namespace {

namespace fs = std::filesystem;

class AddFieldTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() /
           ("karvelta-add-field-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    fs::create_directories(dir_);
    db_ = (dir_ / "sales-small.mdb").string();
    fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb", db_);
    fs::permissions(db_, fs::perms::owner_read | fs::perms::owner_write);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), {"add-field", db_});
    return jettool::run(args, out_, err_, engine::Env::system());
  }
  std::string bytes() const {
    std::ifstream in(db_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string db_;
  std::ostringstream out_, err_;
};

TEST_F(AddFieldTool, AddsSilently) {
  EXPECT_EQ(run({"satislar", "musterikod", "10", "100", "--password", "zorpelnik"}), 0)
      << err_.str();
  EXPECT_EQ(run({"satislar", "satisiyapan", "12", "100", "--password=zorpelnik"}), 0)
      << err_.str();
  EXPECT_EQ(run({"fisno", "saat", "8", "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "");
  engine::JetDatabase db(engine::Env::system(), db_, true, "zorpelnik");
  const auto satislar = db.table("satislar");
  ASSERT_TRUE(satislar);
  const engine::Column* text = satislar->definition.findColumn("musterikod");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->length, 200);
  const engine::PropertyMaps props = db.properties(satislar->entry);
  EXPECT_TRUE(props.allowZeroLength("musterikod"));
  EXPECT_TRUE(props.allowZeroLength("satisiyapan"));
  EXPECT_FALSE(props.required("satisiyapan"));
  ASSERT_NE(props.column("satisiyapan"), nullptr);
  EXPECT_NE(props.column("satisiyapan")->find("Required"), nullptr);
}

TEST_F(AddFieldTool, RefusalsSayWhyAndChangeNothing) {
  const std::string before = bytes();
  const std::vector<std::vector<std::string>> refused = {
      {"satislar", "URUN", "10", "100", "--password", "zorpelnik"},
      {"yok", "alan", "4", "--password", "zorpelnik"},
      {"satislar", "alan", "10", "50,5", "--password", "zorpelnik"},
      {"satislar", "alan", "7", "--password", "zorpelnik"},
      {"satislar", "alan", "x", "--password", "zorpelnik"},
      {"satislar", "a.b", "4", "--password", "zorpelnik"},
      {"satislar", "alan", "4", "--password", "yanlis"},
      {"satislar", "alan", "--password", "zorpelnik"},
  };
  for (const auto& args : refused) {
    EXPECT_NE(run(args), 0) << args[1];
    EXPECT_EQ(out_.str(), "") << args[1];
    EXPECT_EQ(err_.str().rfind("karvelta-jet: ", 0), 0u) << err_.str();
    EXPECT_EQ(bytes(), before) << args[1];
  }
}

}  // namespace
