// SPDX-License-Identifier: GPL-2.0-or-later
// The folders under src/ form layers (the order comes from the build, so the
// test and the build cannot disagree): a file may include only its own layer
// and the layers below it, peers may not include each other, and every
// include names its folder from src/, so no relative path slips past the
// build's include views.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace wx {
namespace {

struct Layers {
  std::map<std::string, int> rank;  // layer path under src/ -> position; peers share one
  // The layer a path under src/ belongs to: the longest layer path that is
  // the path itself or one of its folders; "" when none.
  std::string Of(const std::string& path) const {
    std::string best;
    for (const auto& [layer, r] : rank)
      if ((path == layer || path.rfind(layer + "/", 0) == 0) && layer.size() > best.size()) best = layer;
    return best;
  }
};

Layers ParseOrder(const std::string& order) {
  Layers layers;
  std::istringstream in(order);
  int r = 0;
  for (std::string group; in >> group; ++r) {
    std::stringstream peers(group);
    for (std::string layer; std::getline(peers, layer, '+');) layers.rank[layer] = r;
  }
  return layers;
}

// Every wrong include of the files under src, one per line.
std::string WrongIncludes(const std::filesystem::path& src, const Layers& layers, int& files) {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::string wrong;
  for (const auto& path : paths) {
    const auto ext = path.extension();
    if (ext != ".cpp" && ext != ".h") continue;
    const std::string file = path.lexically_relative(src).string();
    const std::string from = layers.Of(file);
    ++files;
    if (from.empty()) {
      wrong += file + ": in no layer\n";
      continue;
    }
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("#include \"", 0) != 0) continue;
      const std::string target = line.substr(10, line.find('"', 10) - 10);
      const std::string to = layers.Of(target);
      const bool ok = !to.empty() && std::filesystem::exists(src / target) &&
                      (to == from || layers.rank.at(to) < layers.rank.at(from));
      if (!ok) wrong += file + ": " + line + "\n";
    }
  }
  return wrong;
}

TEST(Layering, EveryIncludeRunsDownTheLayerOrderOrStaysInItsLayer) {
  const Layers layers = ParseOrder(WX118_LAYER_ORDER);
  ASSERT_GE(layers.rank.size(), 10u) << WX118_LAYER_ORDER;
  EXPECT_EQ(layers.Of("app/qt/x.h"), "app/qt");
  EXPECT_EQ(layers.Of("app/x.h"), "app");
  EXPECT_EQ(layers.Of("tmex/sim/x.h"), "tmex");

  const std::filesystem::path src = std::filesystem::path(WX118_SOURCE_DIR) / "src";
  ASSERT_TRUE(std::filesystem::is_directory(src)) << src;
  int files = 0;
  EXPECT_EQ(WrongIncludes(src, layers, files), "");
  EXPECT_GT(files, 20);
}

TEST(Layering, UpwardPeerAndRelativeIncludesAreFound) {
  const Layers layers = ParseOrder(WX118_LAYER_ORDER);
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "wx118_layering_test";
  std::filesystem::remove_all(root);
  const std::filesystem::path src = root / "src";
  auto write = [&](const std::string& path, const std::string& text) {
    std::filesystem::create_directories((src / path).parent_path());
    std::ofstream(src / path) << text;
  };
  write("platform/a.h", "#include \"platform/b.h\"\n");  // own layer: fine
  write("platform/b.h", "#include \"tmex/t.h\"\n");      // upward
  write("tmex/t.h", "#include \"platform/a.h\"\n");      // downward: fine
  write("web/w.h", "#include \"mqtt/m.h\"\n");           // peer
  write("mqtt/m.h", "#include \"../web/w.h\"\n");        // relative
  write("app/x.h", "#include \"app/qt/q.h\"\n");         // into the windows
  write("app/qt/q.h", "#include \"app/x.h\"\n");         // windows on the app: fine
  write("stray/s.h", "");
  int files = 0;
  EXPECT_EQ(WrongIncludes(src, layers, files),
            "app/x.h: #include \"app/qt/q.h\"\n"
            "mqtt/m.h: #include \"../web/w.h\"\n"
            "platform/b.h: #include \"tmex/t.h\"\n"
            "stray/s.h: in no layer\n"
            "web/w.h: #include \"mqtt/m.h\"\n");
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace wx
