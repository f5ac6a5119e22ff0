#include "schema/catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schema/tests/expected_catalogue.h"

namespace schema {
namespace {

TEST(Katalog, RenamesFisnoThenSatislar) {
  const auto& reps = katalog().replacements;
  ASSERT_EQ(reps.size(), 2u);
  EXPECT_EQ(reps[0].table, "fisno");
  EXPECT_EQ(reps[0].newName, "fisnoeski");
  EXPECT_EQ(reps[1].table, "satislar");
  EXPECT_EQ(reps[1].newName, "satislareski");
}

TEST(Katalog, HoldsTwoTableStepsAndThirtyFieldStepsInOrder) {
  std::vector<testing::Step> steps;
  for (const Block& block : katalog().blocks) {
    steps.push_back({std::string(block.table), "", -1, ""});
    for (const FieldEntry& f : block.fields)
      steps.push_back({std::string(block.table), std::string(f.name), f.typeIndex,
                       f.limit ? std::string(*f.limit) : std::string()});
  }
  ASSERT_EQ(steps.size(), testing::kExpectedSteps.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i + 1));
    EXPECT_EQ(steps[i].table, testing::kExpectedSteps[i].table);
    EXPECT_EQ(steps[i].field, testing::kExpectedSteps[i].field);
    EXPECT_EQ(steps[i].typeIndex, testing::kExpectedSteps[i].typeIndex);
    EXPECT_EQ(steps[i].limitToSet, testing::kExpectedSteps[i].limitToSet);
  }
  ASSERT_EQ(katalog().blocks.size(), 2u);
  EXPECT_EQ(katalog().blocks[0].fields.size(), 7u);
  EXPECT_EQ(katalog().blocks[1].fields.size(), 23u);
}

}  // namespace
}  // namespace schema
