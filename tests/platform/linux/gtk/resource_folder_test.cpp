#include "platform/linux/gtk/resource_folder.h"

#include <gtest/gtest.h>

#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

TEST(ResourceFolder, InstalledLayoutComesFirstThenTheBuildTree) {
  testing::TemporaryDirectory temp;
  const auto executable = temp.path() / "prefix/bin/OstrelaHost";
  temp.write("prefix/bin/OstrelaHost", "");
  const auto find = [&] {
    return findResourceFolder(executable, {"../share/ostrela-host", "resources"}, "Main.ui");
  };
  EXPECT_EQ(find(), std::nullopt);

  temp.write("prefix/bin/resources/Main.html", "");  // the marker is what counts
  EXPECT_EQ(find(), std::nullopt);
  temp.write("prefix/bin/resources/Main.ui", "");
  EXPECT_EQ(find(), std::filesystem::canonical(temp.path() / "prefix/bin/resources"));

  temp.write("prefix/share/ostrela-host/Main.ui", "");
  EXPECT_EQ(find(), std::filesystem::canonical(temp.path() / "prefix/share/ostrela-host"));
}

}  // namespace
}  // namespace ostrela::linux_platform
