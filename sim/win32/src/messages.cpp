// The virtual clock, the message queue, timers and modal loops.
//
// Message retrieval follows the system's priorities: posted messages first,
// then the quit request, then timers. When nothing is due the clock jumps to
// the next timer or scheduled event, so long runs cost no real time.
#include <sim/world.h>

#include <algorithm>
#include <cstdio>
#include <limits>

using sim::world;

namespace {

std::string msgText(HWND h, UINT msg, WPARAM w, LPARAM l) {
    char buf[112];
    std::snprintf(buf, sizeof buf, " msg=%u w=%lu l=%ld", msg, static_cast<unsigned long>(w),
                  static_cast<long>(l));
    return sim::handleText(h) + buf;
}

// A message to another program's window reaches it at once: it has its own
// thread, and what it does with the message is its own affair.
void deliverForeign(sim::Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool sent) {
    sim::LoggedMessage m{world().now, msg, wParam, lParam, sent};
    w.log.push_back(m);
    if (w.onMessage) {
        auto handler = w.onMessage;  // the handler may destroy the window
        handler(w, m);
    }
}

// The earliest due timer (ties go to the older timer), or null.
sim::Timer* dueTimer(sim::World& wd) {
    sim::Timer* best = nullptr;
    for (sim::Timer& t : wd.timers) {
        if (static_cast<int32_t>(wd.now - t.due) < 0) continue;
        if (!best || static_cast<int32_t>(t.due - best->due) < 0 ||
            (t.due == best->due && t.serial < best->serial))
            best = &t;
    }
    return best;
}

// Index of the earliest scheduled event at or before `limit`, or -1.
int dueEvent(sim::World& wd, uint32_t limit) {
    int best = -1;
    for (size_t i = 0; i < wd.events.size(); ++i) {
        const sim::ScheduledEvent& e = wd.events[i];
        if (static_cast<int32_t>(limit - e.at) < 0) continue;
        if (best < 0 || static_cast<int32_t>(e.at - wd.events[best].at) < 0 ||
            (e.at == wd.events[best].at && e.serial < wd.events[best].serial))
            best = static_cast<int>(i);
    }
    return best;
}

void runEvent(sim::World& wd, int index) {
    sim::ScheduledEvent e = std::move(wd.events[static_cast<size_t>(index)]);
    wd.events.erase(wd.events.begin() + index);
    if (static_cast<int32_t>(e.at - wd.now) > 0) wd.now = e.at;
    e.action();
}

}  // namespace

namespace sim {

sim::Modal* World::findModal(uint64_t id) {
    for (Modal* m : modals)
        if (m->id == id) return m;
    return nullptr;
}

void World::advanceTo(uint32_t tick) {
    for (;;) {
        int e = dueEvent(*this, tick);
        if (e < 0) break;
        runEvent(*this, e);
    }
    if (static_cast<int32_t>(tick - now) > 0) now = tick;
}

bool World::fetch(MSG& msg, const std::function<bool()>& stop, bool& stopped) {
    stopped = false;
    for (;;) {
        if (!queue.empty()) {
            msg = queue.front();
            queue.erase(queue.begin());
            return msg.message != WM_QUIT;
        }
        if (quitPosted) {
            quitPosted = false;
            msg = MSG{};
            msg.message = WM_QUIT;
            msg.wParam = static_cast<WPARAM>(quitCode);
            msg.time = now;
            return false;
        }
        int e = dueEvent(*this, now);
        if (e >= 0) {
            runEvent(*this, e);
            if (stop && stop()) {
                stopped = true;
                return true;
            }
            continue;
        }
        if (Timer* t = dueTimer(*this)) {
            msg = MSG{};
            msg.hwnd = t->hwnd;
            msg.message = WM_TIMER;
            msg.wParam = t->id;
            msg.lParam = reinterpret_cast<LPARAM>(t->proc);
            msg.time = now;
            t->due = now + t->period;
            return true;
        }
        // Idle: jump to whatever comes next.
        bool any = false;
        uint32_t next = 0;
        for (const Timer& t : timers)
            if (!any || static_cast<int32_t>(t.due - next) < 0) next = t.due, any = true;
        for (const ScheduledEvent& ev : events)
            if (!any || static_cast<int32_t>(ev.at - next) < 0) next = ev.at, any = true;
        if (!any) throw ScenarioEnd("the program waits for a message that can never come");
        if (hasDeadline && static_cast<int32_t>(next - deadline) > 0) {
            now = deadline;
            throw ScenarioEnd("the scenario's time is up");
        }
        now = next;
    }
}

INT_PTR World::runModal(Modal& modal) {
    if (!modal.id) modal.id = ++serial;
    modals.push_back(&modal);
    log("ModalEnter", modal.kind + " " + handleText(modal.window));
    struct Pop {
        World& w;
        Modal& m;
        ~Pop() { w.modals.erase(std::remove(w.modals.begin(), w.modals.end(), &m), w.modals.end()); }
    } pop{*this, modal};
    while (!modal.ended) {
        MSG msg;
        bool stopped = false;
        if (!fetch(msg, [&modal] { return modal.ended; }, stopped)) {
            // A modal loop that meets the quit request passes it on to the
            // loop outside and ends.
            quitPosted = true;
            quitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (stopped) break;
        DispatchMessageA(&msg);
    }
    log("ModalLeave", modal.kind + " result=" + std::to_string(static_cast<long long>(modal.result)));
    return modal.result;
}

}  // namespace sim

DWORD WINAPI GetTickCount(void) { return world().now; }

void WINAPI Sleep(DWORD ms) {
    sim::World& wd = world();
    wd.log("Sleep", std::to_string(ms));
    uint32_t target = wd.now + ms;
    if (wd.hasDeadline && static_cast<int32_t>(target - wd.deadline) > 0) {
        wd.advanceTo(wd.deadline);
        throw sim::ScenarioEnd("the scenario's time is up");
    }
    wd.advanceTo(target);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    wd.log("PostMessageA", msgText(hwnd, msg, wParam, lParam));
    if (hwnd) {
        sim::Window* w = wd.window(hwnd);
        if (!w) {
            wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
            return FALSE;
        }
        if (w->foreign) {
            deliverForeign(*w, msg, wParam, lParam, false);
            return TRUE;
        }
    }
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = wd.now;
    wd.queue.push_back(m);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    sim::Window* w = wd.window(hwnd);
    if (msg != WM_CREATE && msg != WM_NCDESTROY) wd.log("SendMessageA", msgText(hwnd, msg, wParam, lParam));
    if (!w) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    if (w->foreign) {
        deliverForeign(*w, msg, wParam, lParam, true);
        return 0;
    }
    return w->proc ? w->proc(hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    sim::World& wd = world();
    wd.log("PostQuitMessage", std::to_string(exitCode));
    wd.quitPosted = true;
    wd.quitCode = exitCode;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND, UINT, UINT) {
    bool stopped = false;
    return world().fetch(*msg, nullptr, stopped) ? TRUE : FALSE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT remove) {
    sim::World& wd = world();
    if (!wd.queue.empty()) {
        *msg = wd.queue.front();
        if (remove & PM_REMOVE) wd.queue.erase(wd.queue.begin());
        return TRUE;
    }
    if (wd.quitPosted) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(wd.quitCode);
        if (remove & PM_REMOVE) wd.quitPosted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    sim::World& wd = world();
    if (msg->message == WM_TIMER && msg->lParam) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, msg->wParam, wd.now);
        return 0;
    }
    sim::Window* w = wd.window(msg->hwnd);
    if (!w || w->foreign) return 0;
    return w->proc ? w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam)
                   : DefWindowProcA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    sim::World& wd = world();
    if (!name || !*name) return 0;
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = wd.registeredMessages.find(key);
    if (it != wd.registeredMessages.end()) return it->second;
    UINT id = 0xC000 + static_cast<UINT>(wd.registeredMessages.size());
    wd.registeredMessages[key] = id;
    return id;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    sim::World& wd = world();
    char buf[96];
    std::snprintf(buf, sizeof buf, " id=%lu ms=%u", static_cast<unsigned long>(id), elapse);
    wd.log("SetTimer", sim::handleText(hwnd) + buf);
    if (hwnd && !wd.window(hwnd)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    if (elapse < 10) elapse = 10;  // USER_TIMER_MINIMUM
    for (sim::Timer& t : wd.timers) {
        if (t.hwnd == hwnd && t.id == id) {
            // Setting an existing timer replaces it and starts its period afresh.
            t.period = elapse;
            t.proc = proc;
            t.due = wd.now + elapse;
            return id;
        }
    }
    wd.timers.push_back({hwnd, id, elapse, proc, wd.now + elapse, ++wd.serial});
    return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    sim::World& wd = world();
    wd.log("KillTimer", sim::handleText(hwnd) + " id=" + std::to_string(id));
    auto it = std::find_if(wd.timers.begin(), wd.timers.end(),
                           [&](const sim::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == wd.timers.end()) {
        wd.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    wd.timers.erase(it);
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    sim::World& wd = world();
    wd.log("MessageBoxA", std::string("text=") + (text ? text : "") + " caption=" + (caption ? caption : "") +
                              " style=0x" + [type] {
                                  char b[16];
                                  std::snprintf(b, sizeof b, "%x", type);
                                  return std::string(b);
                              }());
    size_t record = wd.messageBoxes.size();
    wd.messageBoxes.push_back({wd.now, owner, text ? text : "", caption ? caption : "(null)", type, 0});
    // The box is a real top-level window while it shows, titled by its caption.
    HWND box = wd.addForeignWindow("#32770", caption ? caption : "Error");
    sim::Modal modal;
    modal.kind = "MessageBox";
    modal.window = box;
    int answer = IDOK;
    if (!wd.messageBoxAnswers.empty()) {
        answer = wd.messageBoxAnswers.front();
        wd.messageBoxAnswers.erase(wd.messageBoxAnswers.begin());
    }
    modal.id = ++wd.serial;
    uint64_t id = modal.id;
    if (sim::Window* w = wd.window(box)) {
        w->owner = owner;
        // A program can press the box's buttons itself, as a dialog's.
        w->onMessage = [id](sim::Window&, const sim::LoggedMessage& m) {
            sim::Modal* shown = world().findModal(id);
            if (shown && m.message == WM_COMMAND) {
                shown->result = LOWORD(m.wParam);
                shown->ended = true;
            }
        };
    }
    wd.after(wd.messageBoxDelay, "the user answers the message box", [id, answer] {
        if (sim::Modal* m = world().findModal(id)) {
            m->result = answer;
            m->ended = true;
        }
    });
    INT_PTR result = wd.runModal(modal);
    wd.destroyWindow(box);
    wd.messageBoxes[record].answer = static_cast<int>(result);
    return static_cast<int>(result);
}
