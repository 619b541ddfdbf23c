#include "server/udp_prop_page.h"

#include "server/resource.h"

namespace server {

CUdpPropPage::CUdpPropPage() : COlePropertyPage(IDD_PROPPAGE_UDP, IDS_UDP_PPG_CAPTION) {}

// No fields: only the closing step, so applying the page changes nothing.
void CUdpPropPage::DoDataExchange(fw::CDataExchange& dx) { COlePropertyPage::DoDataExchange(dx); }

HRESULT CreateUdpPropPage(REFIID iid, void** out) { return fw::CreateObject<CUdpPropPage>(iid, out); }

}  // namespace server
