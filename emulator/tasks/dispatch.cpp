/*
 * Running a slot's code as the firmware does: _curTapTask holds the slot
 * while its entry points or event handler run, a TAP that sleeps for ever
 * in one event is taken as hung and ended, and a TAP that called TAP_Exit
 * or whose state word left 1 ends once the firmware has control again.
 */
#include <setjmp.h>
#include <stdio.h>

#include "tasks.h"

/* > 0 while an entry point or event handler runs. */
static int dispatchDepth = 0;

/* Where a TAP hung in TAP_Sleep jumps back to. */
static sigjmp_buf *hangReturn = nullptr;
static unsigned sleepsThisEvent = 0;
static const unsigned SLEEPS_UNTIL_HUNG = 1000;

/* Ends the TAPs that asked for it, once the firmware has control again. */
static void reapSlots(void) {
    for (int slot = 0; slot < EMU_SLOTS; slot++) {
        if (!emuSlots[slot].used) continue;
        if (emuSlots[slot].exitCalled) {
            emuEndSlot(slot, "ended by TAP_Exit");
        } else if (_tapTask[slot].state != EMU_STATE_RUNNING) {
            char reason[48];
            snprintf(reason, sizeof reason, "ended by state %u", (unsigned)_tapTask[slot].state);
            emuEndSlot(slot, reason);
        }
    }
}

int emuRunInSlot(int slot, void (*run)(void *), void *context) {
    sigjmp_buf here;
    sigjmp_buf *outer = hangReturn;
    int savedCurrent = _curTapTask;
    unsigned savedSleeps = sleepsThisEvent;
    volatile int returned = 1;
    hangReturn = &here;
    _curTapTask = slot;
    sleepsThisEvent = 0;
    dispatchDepth++;
    if (sigsetjmp(here, 1) == 0)
        run(context);
    else
        returned = 0;
    dispatchDepth--;
    hangReturn = outer;
    sleepsThisEvent = savedSleeps;
    _curTapTask = savedCurrent;
    if (dispatchDepth == 0) reapSlots();
    return returned;
}

void emuSleepCalled(void) {
    if (!hangReturn) return;  // outside any event: nothing to count against
    if (++sleepsThisEvent < SLEEPS_UNTIL_HUNG) return;
    int hung = _curTapTask;
    traceLine("HUNG " + std::to_string(hung) + " after " + std::to_string(SLEEPS_UNTIL_HUNG) +
              " TAP_Sleep calls in one event");
    emuEndSlot(hung, "ended as hung in TAP_Sleep");
    siglongjmp(*hangReturn, 1);
}

void emuEndRequested(void) {
    int slot = _curTapTask;
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return;
    emuSlots[slot].exitCalled = true;
    if (dispatchDepth == 0) reapSlots();
}

struct EventCall {
    EmuEventHandler handler;
    word event;
    dword p1, p2, result;
};

static void callHandler(void *context) {
    EventCall *call = (EventCall *)context;
    call->result = call->handler(call->event, call->p1, call->p2);
}

dword emuDeliver(int slot, word event, dword p1, dword p2) {
    if (!emu.started || slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used) return 0;
    EventCall call{_tapTask[slot].handler, event, p1, p2, 0};
    bool returned = true;
    dispatchDepth++;  // a TAP that ends in this event ends after its EVENT line
    if (call.handler) returned = emuRunInSlot(slot, callHandler, &call);
    dispatchDepth--;
    char line[96];
    if (returned)
        snprintf(line, sizeof line, "EVENT %d 0x%X 0x%X 0x%X -> 0x%X", slot, (unsigned)event,
                 (unsigned)p1, (unsigned)p2, (unsigned)call.result);
    else
        snprintf(line, sizeof line, "EVENT %d 0x%X 0x%X 0x%X -> hung", slot, (unsigned)event,
                 (unsigned)p1, (unsigned)p2);
    traceLine(line);
    if (dispatchDepth == 0) reapSlots();
    return returned ? call.result : 0;
}

dword emuBroadcast(word event, dword p1, dword p2) {
    dword result = 0;
    for (int slot = 0; slot < EMU_SLOTS; slot++) {
        if (!emuSlotRunning(slot) || !_tapTask[slot].handler) continue;  // no handler, no one to take it
        result = emuDeliver(slot, event, p1, p2);
        if (event == EVT_KEY && result == 0) break;
    }
    return result;
}

