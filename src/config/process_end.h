#pragma once

// How both programs end their process.
namespace qiv::config {

// Flushes every stdio stream and ends the process at once with `status`:
// no exit handler, no thread waited for, no static object destroyed. A
// request's worker, the background fetches or a library's own thread may
// still run, and must not meet the objects they use torn down under them.
[[noreturn]] void endProcess(int status);

} // namespace qiv::config
