// The host simulation for tests: every simulated service starts clean, the
// run-wide values are at their program-start state, and drive C: is a
// scratch folder (so paths in tests read "C:\\scratch\\...").
#pragma once
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/scratch.h"
#include "sim/sim.h"

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Windows path inside the scratch folder.
  std::string At(const std::string& relative) const { return *scratch_ / relative; }
  const std::string& Root() const { return scratch_->path(); }

 private:
  std::unique_ptr<ScratchFolder> scratch_;
};

// Puts every host simulation and every process-wide record of the updater
// back to program start. HostTest calls it in SetUp.
void ResetHostSimulation();
#endif
