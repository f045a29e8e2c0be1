// A frame's slots are kept from frame to frame: what they hold on to must
// still be let go of in time.
#include <memory>

#include <gtest/gtest.h>

#include "frame/triangle_store.h"

namespace softboard {
namespace {

TEST(TriangleStore, ClearLetsGoOfEveryTextureAndNoneIsKeptPastIt) {
  const auto texture = std::make_shared<const DecodedTexture>();
  TriangleStore store;
  for (int frame = 0; frame < 3; frame++) {
    // Textured slots among untextured ones; the last slot's is the one
    // only Clear itself finds.
    for (int i = 0; i < 600; i++) {
      PreparedTriangle* t = store.Add();
      if (i % 250 == 7 || i == 599) t->texture = texture;
      if (i == 300) t->texture1 = texture;
    }
    EXPECT_EQ(texture.use_count(), 1 + 5);
    store.Clear();
    EXPECT_EQ(texture.use_count(), 1) << "frame " << frame;
    EXPECT_EQ(store.size(), 0u);
  }
  // A slot taken back lets go at once.
  store.Add()->texture = texture;
  store.RemoveLast();
  EXPECT_EQ(texture.use_count(), 1);
}

}  // namespace
}  // namespace softboard
