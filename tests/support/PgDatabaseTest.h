// A fixture for tests against PostgreSQL: the suite shares one private
// cluster, every test gets a new database of its own (name_), and the
// tests are skipped where the PostgreSQL server programs are missing.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/PgCluster.h"

namespace tagwell::testing {

class PgDatabaseTest : public ::testing::Test {
 protected:
  explicit PgDatabaseTest(const char* prefix) : prefix_(prefix) {}

  static void SetUpTestSuite() {
    std::string why;
    if (PgCluster::Available(&why)) cluster_ = new PgCluster;
  }
  static void TearDownTestSuite() {
    delete cluster_;
    cluster_ = nullptr;
  }
  // A fixture that sets up more calls this first and returns when
  // IsSkipped() or HasFatalFailure().
  void SetUp() override {
    std::string why;
    if (!PgCluster::Available(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(cluster_->ok()) << cluster_->error();
    static int next = 0;
    name_ = prefix_ + std::to_string(++next);
    ASSERT_TRUE(cluster_->MakeDatabase(name_)) << cluster_->error();
  }
  // Runs sql in the test's database; its output.
  std::string Sql(const std::string& sql) {
    std::string out;
    EXPECT_TRUE(cluster_->Sql(name_, sql, &out)) << cluster_->error();
    return out;
  }

  static inline PgCluster* cluster_ = nullptr;
  std::string name_;

 private:
  std::string prefix_;
};

}  // namespace tagwell::testing
