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
  explicit HeldArgs(std::span<const VARIANT> args) : m_values(args.size()), m_args(args.size()) {
    for (size_t i = 0; i < args.size(); ++i) {
      const VARIANT& arg = args[i];
      VARIANT& value = m_values[i];
      const bool byRef = (V_VT(&arg) & VT_BYREF) != 0;
      const HRESULT hr = byRef ? ::VariantCopyInd(&value, const_cast<VARIANT*>(&arg))
                               : ::VariantCopy(&value, const_cast<VARIANT*>(&arg));
      if (FAILED(hr)) {
        value = VARIANT{};  // what a failed copy left behind is not ours to clear
        throw std::bad_alloc();
      }
      m_args[i] = value;
      if (!byRef) continue;
      V_VT(&m_args[i]) = V_VT(&arg);
      const VARTYPE base = V_VT(&arg) & ~VT_BYREF;
      // A referenced VARIANT or DECIMAL is the whole held VARIANT; anything else its value.
      V_BYREF(&m_args[i]) = base == VT_VARIANT || base == VT_DECIMAL
                               ? static_cast<void*>(&value)
                               : static_cast<void*>(&V_I4(&value));
    }
  }
  HeldArgs(const HeldArgs&) = delete;
  HeldArgs& operator=(const HeldArgs&) = delete;
  std::span<VARIANT> args() { return m_args; }

 private:
  // Cleared however the holder goes, a copy that failed half-way included.
  std::vector<unique_variant> m_values;
  std::vector<VARIANT> m_args;
};

}  // namespace

void COleControl::FireEvent(DISPID id, std::span<VARIANT> args) {
  // An event raised after the thaw but before the held ones would overtake them; the held event
  // being raised now raises its own follow-ups in place.
  if (!m_heldEvents.MustWait(AreEventsFrozen())) {
    OnRaisingEvent(id);
    m_events.Fire(id, args);
    return;
  }
  auto held = std::make_shared<HeldArgs>(args);
  m_heldEvents.Hold([this, id, held] {
    OnRaisingEvent(id);
    m_events.Fire(id, held->args());
  });
}

void COleControl::WhenEventsThawed(std::function<void()> work) {
  m_heldEvents.RunOrHold(AreEventsFrozen(), std::move(work));
}

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze) noexcept {
  if (freeze)
    ++m_freezeEvents;
  else if (m_freezeEvents > 0 && --m_freezeEvents == 0)
    return ComBarrier([&] { ScheduleHeldEvents(); });
  return S_OK;
}

void COleControl::ScheduleHeldEvents() {
  // Raised from the control's own window rather than inside the container's call that thaws.
  m_heldEventsScheduled = true;
  HWND w = m_window.get();
  if (!w || !::PostMessageW(w, kMsgRaiseHeldEvents, 0, 0)) RaiseHeldEvents();
}

void COleControl::RaiseHeldEvents() {
  m_heldEventsScheduled = false;
  // A handler that pumps messages must not start the next held event inside its own.
  if (m_heldEvents.IsRaising()) return;
  m_heldEvents.Raise([this] { return !AreEventsFrozen(); });
  if (!AreEventsHeld()) OnEventsThawed();
}

}  // namespace fw
