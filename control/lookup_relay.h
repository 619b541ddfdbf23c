// The window that receives every look-up completion of the controls on one thread.
//
// The sockets layer writes a request's result buffer on a worker thread and only then posts the
// completion, and on this platform cancelling a request stops neither. A completion posted to a
// window that no longer exists is lost, so the owner of the buffer would never learn when it may
// free it. Requests are therefore addressed to this relay window, which lives as long as any
// request it knows of is outstanding: it forwards a completion to the control that started the
// request (through the control's own window, so its message map and error barrier apply), and
// frees the buffer itself when that control was destroyed in the meantime.
#pragma once
#include <windows.h>

#include "control/udp_ctrl.h"

namespace udp::lookup_relay {

// The window to give a new request; created on first use, nullptr when it cannot be created.
HWND Window();
// Records a request started with Window() whose completion belongs to owner.
void Track(HANDLE task, CUdpCtrl* owner);
// Whether the sockets layer may still write the buffer of that request.
bool IsPending(HANDLE task);
// The owner is going away: the relay keeps the buffer until the request's completion arrives.
void Orphan(HANDLE task, LookupBuffer buffer);
// Drops every remaining reference to owner; completions of its requests are swallowed.
void ForgetOwner(const CUdpCtrl* owner);

}  // namespace udp::lookup_relay
