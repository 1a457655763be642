// How the process's allocator treats picture-sized buffers.
#pragma once

namespace tarsel {

// Called once at the start of a program that converts pictures (before any thread).
// Picture buffers of a few to tens of megabytes come and go with every conversion and
// every preview. Left to itself, the C library hands each one back to the system when
// it is freed and maps a fresh one for the next, so every page of every buffer is
// faulted in again; on a virtual machine that doubled the time of decoding a photo.
// With this, buffers up to 32 MB come from the heap, and up to 64 MB of freed heap is
// kept for the next picture instead of being returned at once.
void KeepPictureBuffers();

} // namespace tarsel
