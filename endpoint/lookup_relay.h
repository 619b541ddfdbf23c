// The window that receives every look-up completion of the endpoints on one thread.
//
// The sockets layer writes a request's result buffer on a worker thread and only then posts the
// completion. A completion posted to a window that no longer exists is lost, so the owner of the
// buffer would never learn when it may free it. Requests are therefore addressed to this relay
// window, which lives as long as any request it knows of is outstanding: it forwards a completion
// to the endpoint that started the request (through its owner, as the owner's notification window
// would), and frees the buffers that their owners gave up.
//
// A cancelled request may or may not complete: Windows posts nothing after a cancel that took,
// other implementations post anyway. Its buffer is therefore kept until its completion arrives or,
// at the latest, until the retention time has passed, long enough for any resolver to have
// finished writing it. While the relay holds buffers of its own it holds the module.
#pragma once
#include <windows.h>

#include "endpoint/endpoint.h"

namespace udp::lookup_relay {

// The window to give a new request; created on first use, nullptr when it cannot be created.
HWND Window();
// Records a request started with Window() whose completion belongs to owner.
void Track(HANDLE task, Endpoint* owner);
// Drops a request that did not start after all.
void ForgetTask(HANDLE task);
// Whether the sockets layer may still write the buffer of that request.
bool IsPending(HANDLE task);
// The owner has cancelled the request: the relay keeps its buffer until the completion arrives or
// the retention time has passed, and the owner hears nothing more of it.
void Abandon(HANDLE task, LookupBuffer buffer) noexcept;
// The owner is going away while the request runs on: the relay keeps the buffer until the
// request's completion arrives.
void Orphan(HANDLE task, LookupBuffer buffer) noexcept;
// Drops every remaining reference to owner; completions of its requests are swallowed.
void ForgetOwner(const Endpoint* owner);
// Destroys the window (and unregisters its class) when no request needs it, as after a request
// that failed to start.
void DestroyWhenIdle();

// How long a cancelled request's buffer is kept when no completion comes (two minutes unless
// changed); returns the previous value.
DWORD SetRetentionTime(DWORD milliseconds);

}  // namespace udp::lookup_relay
