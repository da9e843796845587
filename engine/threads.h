// Cooperative interpreter threads: the thread records in the variable heap,
// the scheduler the virtual machine calls, the semaphore table and the
// natives of "@thread", with the tic/toc stopwatch.
#pragma once

#include "engine/context.h"

// A thread's heap block: its 192-byte record, then its clock state (the
// clock's state size rounded up to cells), its data stack, and its descriptor
// stack 8d bytes after the record, where d is half the stack size in cells.
constexpr int32_t kThreadRecordCells = static_cast<int32_t>(sizeof(ThreadRecord) / sizeof(Cell));
constexpr int32_t kMinThreadStackBytes = 1024;
constexpr int32_t kLowestPriority = 1;
constexpr int32_t kHighestPriority = 41;
constexpr int32_t kDefaultPriority = 21;

// One heap cell per slot; id 0 marks a free slot.
struct SemaphoreRecord {
  int32_t id;
  int32_t lockCount;  // 0 or 1
};
static_assert(sizeof(SemaphoreRecord) == sizeof(Cell));

// The running thread's record, or null for the main thread.
ThreadRecord* GetCurrentThreadRecord(EngineContext* ctx);
// The record of a heap index (0: the main thread's, inside the context).
ThreadRecord* ThreadRecordAt(EngineContext* ctx, int32_t thread);
// Saves the running thread's registers and loads the given thread's (heap
// index; 0 the main thread; -1 the scheduler's choice). Answers the record
// now running (the main thread's is the one in the context).
ThreadRecord* SwitchInterpreterThread(EngineContext* ctx, int32_t thread);
// Unwinds the thread's frames, removes it from the list and frees its block;
// switches to the main thread first when it is the running one. 0 does nothing.
void UnlinkInterpreterThread(EngineContext* ctx, int32_t thread);
// Id 0 names the main thread (heap index 0).
bool FindThreadById(EngineContext* ctx, int32_t id, int32_t* thread);
// Starts a thread with the function value and its n arguments on top of the
// caller's stacks (taken off them); *id receives the new thread's id.
[[nodiscard]] StatusCode CreateInterpreterThread(EngineContext* ctx, int32_t stackSize, int32_t library, int32_t n,
                                                 bool sandbox, int32_t priority, int32_t* id);
// With the main thread current: every other thread's stack and clock-state
// offsets computed again from its heap index, after the heap moved or an
// image was loaded.
void RebaseThreadRecords(EngineContext* ctx);

// Before the heap's reachability pass, which frees every thread's block and
// the semaphore table: the main thread is made current and both are
// forgotten. Ids keep growing.
void ForgetInterpreterThreads(EngineContext* ctx);

// The virtual machine's side of scheduling: true when the running thread has
// used its slice (its time added up on the way).
bool ThreadSliceEnded(EngineContext* ctx);
// After the slice ended, or on 502 and 504: the scheduler's choice is
// switched in; false when it has nothing to run (the main thread is then
// current again).
bool SwitchThreadAtSliceEnd(EngineContext* ctx);

// The semaphore table. A slot index or -1; 5 when the heap is full.
int32_t FindFreeSemaphoreSlot(EngineContext* ctx);
[[nodiscard]] StatusCode GrowSemaphoreTable(EngineContext* ctx);
// Null when no semaphore has that id.
SemaphoreRecord* FindSemaphore(EngineContext* ctx, int32_t id);

// Forgets the stopwatch's start (tests).
void ResetStopwatch();
// The stopwatch's clock: null restores the monotonic wall clock (tests).
void SetStopwatchClock(double (*now)());
