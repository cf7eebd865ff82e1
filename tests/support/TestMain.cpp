// The main of every test program. Each process gets a registry file of its
// own (so tests never touch the user's registry and never see each other's
// registrations) and Qt's offscreen platform (widgets work without a display).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static reel::test::TempDir sandbox("reeltest");
  if (!std::getenv("REELPRESS_REGISTRY")) {
    setenv("REELPRESS_REGISTRY", (sandbox.path() / "registry").c_str(), 1);
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return RUN_ALL_TESTS();
}
