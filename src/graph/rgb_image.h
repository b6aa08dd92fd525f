// SPDX-License-Identifier: GPL-2.0-or-later
// A picture of 32-bit pixels 0xFFRRGGBB (the layout the toolkit calls RGB32).
// Its size is fixed and its pixels are one block that never moves, so the
// windows show it in place and a run without windows needs no imaging
// library. It keeps the rectangle written since the windows last took it:
// they repaint that and nothing else.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace wx {

// Columns left..right and rows top..bottom, inclusive; empty when right < left.
struct PixelRect {
  int left = 0, top = 0, right = -1, bottom = -1;
  bool Empty() const { return right < left || bottom < top; }
  bool operator==(const PixelRect&) const = default;
};

// 0xFFRRGGBB of a Windows colour value 0x00BBGGRR.
constexpr uint32_t ToRgb32(uint32_t windowsColour) {
  return 0xFF000000u | (windowsColour & 0xFF) << 16 | (windowsColour & 0xFF00) | (windowsColour >> 16 & 0xFF);
}

class RgbImage {
 public:
  RgbImage(int width, int height, uint32_t fill = 0xFFFFFFFFu)
      : width_(std::max(width, 0)), height_(std::max(height, 0)),
        pixels_(new uint32_t[Size()]) {  // left unset: Fill sets every pixel
    Fill(fill);
  }
  // Copies compare and read alike, but only a new image gets new pixels: an
  // image that the windows show is never given another block.
  RgbImage(const RgbImage& o)
      : width_(o.width_), height_(o.height_), pixels_(new uint32_t[Size()]), changed_(o.changed_) {
    std::memcpy(pixels_.get(), o.pixels_.get(), Size() * sizeof(uint32_t));
  }
  RgbImage& operator=(const RgbImage&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Inside the image only.
  uint32_t Pixel(int x, int y) const { return pixels_[Index(x, y)]; }
  const uint32_t* Row(int y) const { return pixels_.get() + Index(0, y); }
  // A row to write; the caller marks what it wrote with Touch.
  uint32_t* MutableRow(int y) { return pixels_.get() + Index(0, y); }

  // Clipped to the image.
  void Set(int x, int y, uint32_t rgb) {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
    pixels_[Index(x, y)] = rgb;
    Touch({x, y, x, y});
  }
  void Fill(uint32_t rgb) {
    // One row, then copies of it: as quick as a plain fill, and far quicker
    // in a build that counts every step of a loop.
    if (Size() == 0) return;
    std::fill_n(pixels_.get(), width_, rgb);
    for (int y = 1; y < height_; ++y) std::memcpy(MutableRow(y), Row(0), static_cast<size_t>(width_) * 4);
    TouchAll();
  }

  void Touch(const PixelRect& r) {
    if (r.Empty()) return;
    if (changed_.Empty()) {
      changed_ = r;
      return;
    }
    changed_ = {std::min(changed_.left, r.left), std::min(changed_.top, r.top), std::max(changed_.right, r.right),
                std::max(changed_.bottom, r.bottom)};
  }
  void TouchAll() { Touch({0, 0, width_ - 1, height_ - 1}); }
  // What was written since the last call.
  PixelRect TakeChanged() {
    const PixelRect r = changed_;
    changed_ = {};
    return r;
  }

  bool operator==(const RgbImage& o) const {
    return width_ == o.width_ && height_ == o.height_ &&
           std::memcmp(pixels_.get(), o.pixels_.get(), Size() * sizeof(uint32_t)) == 0;
  }

 private:
  size_t Size() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
  }

  int width_, height_;
  std::unique_ptr<uint32_t[]> pixels_;
  PixelRect changed_;
};

}  // namespace wx
