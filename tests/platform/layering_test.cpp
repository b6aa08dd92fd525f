// The folders under src/ form layers: the app (windows, the monitor, program
// entry) sits on top, the platform stand-ins at the bottom. An include that
// runs the other way ties a lower layer to everything above it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace wx {
namespace {

TEST(Layering, NoFolderBelowTheAppIncludesItAndThePlatformIncludesOnlyItself) {
  const std::filesystem::path src = std::filesystem::path(WX118_SOURCE_DIR) / "src";
  ASSERT_TRUE(std::filesystem::is_directory(src)) << src;
  std::string wrong;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
    const auto ext = entry.path().extension();
    if (ext != ".cpp" && ext != ".h") continue;
    const std::string folder = entry.path().lexically_relative(src).begin()->string();
    if (folder == "app") continue;
    ++files;
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("#include \"", 0) != 0) continue;
      const std::string target = line.substr(10, line.find('/', 10) - 10);
      if (target == "app" || (folder == "platform" && target != "platform"))
        wrong += entry.path().lexically_relative(src).string() + ": " + line + "\n";
    }
  }
  EXPECT_GT(files, 20);
  EXPECT_EQ(wrong, "");
}

}  // namespace
}  // namespace wx
