#pragma once
// Habits of real FFGL hosts that a plain host does not show, each switched on
// by itself: a live run draws with them so that what they break is caught.
#include <cstdint>
#include <vector>

namespace mirandel::host {

struct HostHabits {
  // Every frame draws each clip twice, as a layer and as its preview at this
  // size, with a Resize to the size before each draw. 0: no preview.
  std::uint32_t previewWidth = 0, previewHeight = 0;
  // Event parameters pressed as hosts press them, once a second from
  // pressFromSeconds on, alternately held (1 on every frame for holdFrames
  // frames, then 0) and clicked as two calls of 1 (then 0 on the next frame).
  std::vector<std::uint32_t> pressedEvents;
  double pressFromSeconds = 3;
  unsigned holdFrames = 30;
  // Before each draw, the GL state a host's own drawing leaves behind
  // (leaveHostGlState); the layers are then sRGB framebuffers.
  bool glLeftovers = false;
};

// What hosts are seen to leave set before calling a plug-in: a sampler object
// with a mipmapping minification filter on unit 0, sRGB writes on, culling of
// both windings, wireframe polygons, blending that keeps the destination, a one-pixel scissor, a
// colour mask, unpack alignment and row length, and another texture unit
// active. Host thread, with the context current for its whole life.
class HostGlLeftovers {
 public:
  HostGlLeftovers();
  ~HostGlLeftovers();
  HostGlLeftovers(const HostGlLeftovers&) = delete;
  HostGlLeftovers& operator=(const HostGlLeftovers&) = delete;

  void leave() const;

 private:
  std::uint32_t sampler_ = 0;
};

}  // namespace mirandel::host
