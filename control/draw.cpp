// The design-time picture: bitmap 201 stretched over the bounds.
#include <olectl.h>

#include "control/resource.h"
#include "control/udp_ctrl.h"
#include "framework/module.h"

namespace udp {

namespace {
constexpr int kDrawBitmapId = IDB_UDP_DRAW;
}

void CUdpCtrl::OnDraw(HDC dc, const RECT& bounds) {
  const fw::unique_hbitmap bitmap(
      ::LoadBitmapW(fw::ThisModule(), MAKEINTRESOURCEW(kDrawBitmapId)));
  if (!bitmap) return;
  PICTDESC desc = {};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = bitmap.get();
  fw::com_ptr<IPicture> picture;
  if (SUCCEEDED(::OleCreatePictureIndirect(&desc, IID_IPicture, FALSE, picture.put_void()))) {
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    // The picture's origin is its bottom-left corner in HIMETRIC.
    picture->Render(dc, bounds.left, bounds.top, bounds.right - bounds.left,
                    bounds.bottom - bounds.top, 0, height, width, -height, nullptr);
  }
}

}  // namespace udp
