// The control's property page: template 200, caption "General", no fields.
#pragma once
#include "framework/property_page.h"

namespace server {

class CUdpPropPage : public fw::COlePropertyPage {
 public:
  CUdpPropPage();

 protected:
  void DoDataExchange(fw::CDataExchange& dx) override;
};

HRESULT CreateUdpPropPage(REFIID iid, void** out);

}  // namespace server
