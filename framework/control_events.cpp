// Raising events, and holding them while the container has frozen them.
//
// Implementation details: while events are frozen, each event raised is queued as a closure over
// copies of its arguments (HeldArgs); work that must run in its turn among the events
// (WhenEventsThawed) is queued the same way. After the last thaw the queue is drained from the
// control's own window (kMsgRaiseHeldEvents), one entry after another, until it is empty or the
// events are frozen again; a handler that pumps messages does not start the next entry inside its
// own.
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "framework/automation_error.h"
#include "framework/ole_control.h"

namespace fw {

namespace {

// Copies of an event's arguments, held while events are frozen. A by-reference argument is held
// as a copy of what it refers to and handed to the sinks as a reference to that copy.
class HeldArgs {
 public:
  explicit HeldArgs(std::span<const VARIANT> args) : values_(args.size()), args_(args.size()) {
    for (size_t i = 0; i < args.size(); ++i) {
      const VARIANT& arg = args[i];
      VARIANT& value = values_[i];
      const bool byRef = (V_VT(&arg) & VT_BYREF) != 0;
      const HRESULT hr = byRef ? ::VariantCopyInd(&value, const_cast<VARIANT*>(&arg))
                               : ::VariantCopy(&value, const_cast<VARIANT*>(&arg));
      if (FAILED(hr)) {
        value = VARIANT{};  // what a failed copy left behind is not ours to clear
        throw std::bad_alloc();
      }
      args_[i] = value;
      if (!byRef) continue;
      V_VT(&args_[i]) = V_VT(&arg);
      const VARTYPE base = V_VT(&arg) & ~VT_BYREF;
      // A referenced VARIANT or DECIMAL is the whole held VARIANT; anything else its value.
      V_BYREF(&args_[i]) = base == VT_VARIANT || base == VT_DECIMAL
                               ? static_cast<void*>(&value)
                               : static_cast<void*>(&V_I4(&value));
    }
  }
  ~HeldArgs() {
    for (auto& value : values_) ::VariantClear(&value);
  }
  HeldArgs(const HeldArgs&) = delete;
  HeldArgs& operator=(const HeldArgs&) = delete;
  std::span<VARIANT> args() { return args_; }

 private:
  std::vector<VARIANT> values_;
  std::vector<VARIANT> args_;
};

}  // namespace

void COleControl::FireEvent(DISPID id, std::span<VARIANT> args) {
  // An event raised after the thaw but before the held ones would overtake them; the held event
  // being raised now raises its own follow-ups in place.
  if (!AreEventsFrozen() && (heldEvents_.empty() || raisingHeldEvents_)) {
    events_.Fire(id, args);
    return;
  }
  auto held = std::make_shared<HeldArgs>(args);
  heldEvents_.push_back([this, id, held] { events_.Fire(id, held->args()); });
}

void COleControl::WhenEventsThawed(std::function<void()> work) {
  if (AreEventsFrozen() || (!heldEvents_.empty() && !raisingHeldEvents_))
    heldEvents_.push_back(std::move(work));
  else
    work();
}

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze) {
  if (freeze)
    ++freezeEvents_;
  else if (freezeEvents_ > 0 && --freezeEvents_ == 0)
    return ComBarrier([&] { ScheduleHeldEvents(); });
  return S_OK;
}

void COleControl::ScheduleHeldEvents() {
  // Raised from the control's own window rather than inside the container's call that thaws.
  heldEventsScheduled_ = true;
  HWND w = window_.get();
  if (!w || !::PostMessageW(w, kMsgRaiseHeldEvents, 0, 0)) RaiseHeldEvents();
}

void COleControl::RaiseHeldEvents() {
  heldEventsScheduled_ = false;
  // A handler that pumps messages must not start the next held event inside its own.
  if (raisingHeldEvents_) return;
  {
    raisingHeldEvents_ = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{raisingHeldEvents_};
    while (!AreEventsFrozen() && !heldEvents_.empty()) {
      auto next = std::move(heldEvents_.front());
      heldEvents_.pop_front();
      next();
    }
  }
  if (!AreEventsHeld()) OnEventsThawed();
}

}  // namespace fw
