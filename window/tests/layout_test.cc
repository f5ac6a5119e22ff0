// The shared layout: twips to pixels, the focus order, the key filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "window/key_filter.h"
#include "window/layout.h"

namespace {

using namespace window::layout;

TEST(Layout, TwipsToPixels) {
  // 96 DPI: 15 twips a pixel; the client area is 964 x 332.
  EXPECT_EQ(toPixels(kClientArea.width, 96), 964);
  EXPECT_EQ(toPixels(kClientArea.height, 96), 332);
  EXPECT_EQ(toPixels(7, 96), 0);
  EXPECT_EQ(toPixels(8, 96), 1) << "half a pixel rounds up";
  // 120 DPI: 12 twips a pixel; 144 DPI: 10.
  EXPECT_EQ(toPixels(14460, 120), 1205);
  EXPECT_EQ(toPixels(4980, 120), 415);
  EXPECT_EQ(toPixels(615, 120), 51);  // 51.25
  EXPECT_EQ(toPixels(14460, 144), 1446);
  EXPECT_EQ(toPixels(-75, 96), -5);
  EXPECT_EQ(toPixels(1440 * 1000, 240), 240000) << "no overflow on large products";

  // The layout's font sizes at 96 DPI: 8.25 pt is 11 pixels, 24 pt 32.
  EXPECT_EQ(pointsToPixels(8.25, 96), 11);
  EXPECT_EQ(pointsToPixels(9.75, 96), 13);
  EXPECT_EQ(pointsToPixels(13.5, 96), 18);
  EXPECT_EQ(pointsToPixels(14.25, 96), 19);
  EXPECT_EQ(pointsToPixels(15.75, 96), 21);
  EXPECT_EQ(pointsToPixels(24, 96), 32);
  EXPECT_EQ(pointsToPixels(8.25, 120), 14);  // 13.75
}

TEST(Layout, FocusOrderAndTable) {
  std::vector<std::string> names;
  for (const Control* c : focusOrder()) names.emplace_back(c->name);
  EXPECT_EQ(names, (std::vector<std::string>{"sonuc", "basla", "yedekle", "sinir", "tabloismi",
                                             "verituru", "alanismi", "tabloolustur", "kapat",
                                             "sonuc1", "sorgu", "sorguolusturma", "kontrolet"}));
  EXPECT_EQ(focusOrder().front()->name, kFirstFocus);

  // Names are unique, and the panel's controls come right after the panel,
  // so a view can make them inside it.
  bool seenFrame = false, left = false;
  std::vector<std::string_view> seen;
  for (const Control& c : controls()) {
    EXPECT_EQ(std::count(seen.begin(), seen.end(), c.name), 0) << c.name;
    seen.push_back(c.name);
    if (c.kind == Kind::Frame) {
      seenFrame = true;
      continue;
    }
    if (seenFrame && !c.inFrame) left = true;
    EXPECT_FALSE(c.inFrame && (!seenFrame || left)) << c.name << " outside the panel's run";
  }
  EXPECT_EQ(find("Frame1")->visible, false);
  EXPECT_EQ(find("Frame1")->enabled, false);
  EXPECT_EQ(find("nothing"), nullptr);
  // KAPAT is made after the panel, so it stands above it.
  EXPECT_GT(find("kapat") - find("Frame1"), 0);
}

TEST(SinirKeyFilter, Codes) {
  using window::sinirKeyFilter;
  for (char c : std::string(",0123456789")) EXPECT_EQ(sinirKeyFilter(c), c) << c;
  for (int c : {0, 1, 3, 8, 13, 22, 24, 26, -1, -200, -32768})
    EXPECT_EQ(sinirKeyFilter(static_cast<std::int16_t>(c)), c) << "control or negative " << c;
  for (int c : {27, 32, 43, 45, 46, 47, 58, 65, 97, 127, 221, 253, 32767})
    EXPECT_EQ(sinirKeyFilter(static_cast<std::int16_t>(c)), 0) << "discarded " << c;
  static_assert(sinirKeyFilter('5') == '5' && sinirKeyFilter('a') == 0);
}

}  // namespace
