// Tests run once per instruction-set level that this processor runs: the answers must not
// depend on the level.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "levels.h"

inline std::vector<std::string> RunnableLevels() {
  std::vector<std::string> r;
  for (const std::string& l : Levels())
    if (Runs(l)) r.push_back(l);
  return r;
}

// A fixture that uses the level it is given, and the level chosen at start again afterwards.
class AtLevel : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    static const std::string first = Level();
    start = first;
    ASSERT_TRUE(UseLevel(GetParam())) << GetParam();
  }
  void TearDown() override { UseLevel(start); }
  std::string start;
};

// Instantiates the TEST_P tests of Suite (a class derived from AtLevel) once per level.
#define DRAVOK_AT_EVERY_LEVEL(Suite)                                          \
  INSTANTIATE_TEST_SUITE_P(Level, Suite, testing::ValuesIn(RunnableLevels()), \
                           [](const testing::TestParamInfo<std::string>& i) { return i.param; })
