// The control's design-time picture as a container draws it: at its own size, stretched, and
// into metafiles.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <set>
#include <vector>

#include "support/container_fixture.h"

namespace {

using Container = container::FormTest;

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  DWORD* bits = nullptr;
  int width, height;
  Canvas(int w, int h, DWORD fill) : width(w), height(h) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = ::CreateCompatibleDC(nullptr);
    bitmap =
        ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = ::SelectObject(dc, bitmap);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Canvas() {
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
  }
  DWORD at(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
};

// The picture the control carries (bitmap 201), as 32-bit pixels.
std::vector<DWORD> ExpectedPicture() {
  HBITMAP bitmap = static_cast<HBITMAP>(
      ::LoadImageW(container::TheServer()->module, MAKEINTRESOURCEW(201), IMAGE_BITMAP, 0, 0, 0));
  std::vector<DWORD> pixels(32 * 32);
  if (!bitmap) return {};
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = ::GetDC(nullptr);
  ::GetDIBits(screen, bitmap, 0, 32, pixels.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  ::DeleteObject(bitmap);
  for (auto& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

constexpr DWORD kBackground = 0x123456;

HRESULT DrawInto(IUnknown* control, HDC dc, RECTL bounds) {
  auto view = fw::com_ptr<IUnknown>(control, true).query<IViewObject2>(IID_IViewObject2);
  if (!view) return E_NOINTERFACE;
  return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                    0);
}

TEST_F(Container, DrawsItsPictureUnscaledAtItsOwnSize) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  // The picture is not one colour: a check that could not tell a blank from a picture is none.
  EXPECT_GT(std::set<DWORD>(expected.begin(), expected.end()).size(), 4u);

  Canvas canvas(48, 40, kBackground);
  ASSERT_EQ(DrawInto(control_.get(), canvas.dc, {8, 4, 40, 36}), S_OK);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) {
      const bool inside = x >= 8 && x < 40 && y >= 4 && y < 36;
      const DWORD want = inside ? expected[(y - 4) * 32 + (x - 8)] : kBackground;
      ASSERT_EQ(canvas.at(x, y), want) << "at " << x << "," << y;
    }
}

TEST_F(Container, StretchesItsPictureOverTheBounds) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  Canvas canvas(64, 16, kBackground);
  ASSERT_EQ(DrawInto(control_.get(), canvas.dc, {0, 0, 64, 16}), S_OK);
  // The picture is made of 8 x 8 tiles of one colour; each becomes a 16 x 4 tile.
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 16 + 8, ty * 4 + 2), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_NE(canvas.at(x, y), kBackground) << x << "," << y;
}

TEST_F(Container, DrawsIntoAMetafileTheSameWay) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  HDC meta = ::CreateMetaFileW(nullptr);
  ASSERT_NE(meta, nullptr);
  ASSERT_EQ(::GetDeviceCaps(meta, TECHNOLOGY), DT_METAFILE);
  ASSERT_EQ(DrawInto(control_.get(), meta, {0, 0, 32, 32}), S_OK);
  HMETAFILE recorded = ::CloseMetaFile(meta);
  ASSERT_NE(recorded, nullptr);
  Canvas canvas(32, 32, kBackground);
  ASSERT_TRUE(::PlayMetaFile(canvas.dc, recorded));
  ::DeleteMetaFile(recorded);
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 8 + 4, ty * 8 + 4), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
}

TEST_F(Container, DrawsIntoAnEnhancedMetafileTheSameWay) {
  SiteAndInitNew();
  const auto expected = ExpectedPicture();
  ASSERT_EQ(expected.size(), 32u * 32u);
  HDC meta = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(meta, nullptr);
  ASSERT_EQ(DrawInto(control_.get(), meta, {0, 0, 32, 32}), S_OK);
  HENHMETAFILE recorded = ::CloseEnhMetaFile(meta);
  ASSERT_NE(recorded, nullptr);
  Canvas canvas(32, 32, kBackground);
  const RECT frame = {0, 0, 32, 32};
  ASSERT_TRUE(::PlayEnhMetaFile(canvas.dc, recorded, &frame));
  ::DeleteEnhMetaFile(recorded);
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx)
      EXPECT_EQ(canvas.at(tx * 8 + 4, ty * 8 + 4), expected[(ty * 8 + 4) * 32 + tx * 8 + 4])
          << "tile " << tx << "," << ty;
}

TEST_F(Container, DrawRefusesOtherAspectsAndMissingBounds) {
  SiteAndInitNew();
  auto view = control_.query<IViewObject2>(IID_IViewObject2);
  Canvas canvas(32, 32, kBackground);
  RECTL bounds = {0, 0, 32, 32};
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr,
                       nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, nullptr, nullptr,
                       nullptr, 0),
            E_INVALIDARG);
  EXPECT_EQ(canvas.at(16, 16), kBackground);
}

}  // namespace
