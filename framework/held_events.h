// Events, and work that must run in its turn among them, held back while their owner holds them
// (a container has frozen the control's events; a handler of a formless object runs), then
// raised in order. One mechanism for every object that raises events.
#pragma once
#include <deque>
#include <functional>

namespace fw {

class HeldEvents {
 public:
  // Something waits or is being raised: what happens now must wait its turn.
  bool Pending() const { return m_raising || !m_queue.empty(); }
  bool IsRaising() const { return m_raising; }
  // Whether what happens now must wait its turn: the owner holds its events, or earlier work
  // waits. Work being raised runs its own follow-ups in place, so they do not overtake it.
  bool MustWait(bool holding) const { return holding || (!m_queue.empty() && !m_raising); }
  void RunOrHold(bool holding, std::function<void()> work) {
    if (MustWait(holding))
      m_queue.push_back(std::move(work));
    else
      work();
  }
  void Hold(std::function<void()> work) { m_queue.push_back(std::move(work)); }
  // Raises the held work, oldest first, while mayRaise() allows. A handler that pumps messages
  // does not start the next held event inside its own: a call while raising does nothing.
  void Raise(const std::function<bool()>& mayRaise) {
    if (m_raising) return;
    m_raising = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{m_raising};
    while (!m_queue.empty() && mayRaise()) {
      auto next = std::move(m_queue.front());
      m_queue.pop_front();
      next();
    }
  }

 private:
  std::deque<std::function<void()>> m_queue;
  bool m_raising = false;
};

}  // namespace fw
