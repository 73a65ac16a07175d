#include "tmp_name_gen.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";

bool WellFormed(const std::string& name) {
  return name.size() == 8 && name.find_first_not_of(kAlphabet) == std::string::npos;
}

TEST(TmpNameGenTest, NamesAreEightCharactersOfTheAlphabet) {
  TmpNameGen* gen = TmpNameGen::getInstance();
  EXPECT_EQ(gen, TmpNameGen::getInstance());
  std::set<char> used;
  for (int i = 0; i < 2000; ++i) {
    std::string name = gen->getTmpName();
    ASSERT_TRUE(WellFormed(name)) << name;
    used.insert(name.begin(), name.end());
  }
  EXPECT_EQ(64u, used.size()) << "16000 draws reach every character";
  EXPECT_EQ("/some/dir/", gen->getTmpPath("/some/dir").substr(0, 10));
  EXPECT_TRUE(WellFormed(gen->getTmpPath("/some/dir").substr(10)));
}

TEST(TmpNameGenTest, ReseedingStartsAnotherSequence) {
  TmpNameGen* gen = TmpNameGen::getInstance();
  gen->reseed();
  std::string first = gen->getTmpName() + gen->getTmpName();
  gen->reseed();
  std::string second = gen->getTmpName() + gen->getTmpName();
  EXPECT_NE(first, second);
}

TEST(TmpNameGenTest, ManyThreadsGetWellFormedDistinctNames) {
  constexpr int kThreads = 8;
  constexpr int kNamesEach = 2000;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&names, t] {
      for (int i = 0; i < kNamesEach; ++i) names[t].push_back(TmpNameGen::getInstance()->getTmpName());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto& list : names) {
    for (const std::string& name : list) {
      EXPECT_TRUE(WellFormed(name)) << name;
      distinct.insert(name);
    }
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kNamesEach), distinct.size());
}

}  // namespace
