// The clocks the benchmarks read: wall time from the performance counter
// and the processor time of the whole process.
#pragma once

namespace qmbench {

// Milliseconds from the performance counter (an arbitrary origin).
double NowMs();

// Processor time this process has used, user and kernel, in all its
// threads, in milliseconds: a frame's copy runs on the device's capture
// thread, its scaling on the streaming thread.
double ProcessCpuMs();

}  // namespace qmbench
