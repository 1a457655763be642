// How the process's allocator treats picture-sized buffers.
#pragma once

namespace tarsel {

// Called once at the start of tarsel-cli (before any thread). Picture buffers of a few
// to tens of megabytes come and go with every conversion. Left to itself, the C library
// hands each one back to the system when it is freed and maps a fresh one for the next,
// so every page of every buffer is faulted in again; on a virtual machine that doubled
// the time of decoding a photo after a crop. With this, buffers up to 32 MB come from the
// heap, and up to 64 MB of freed heap is kept for the next picture.
// The window program does not call it: there a picture is converted once per click, and
// with the larger heap single events of the window's thread (the frame log's updates
// during a transfer) took twice the time.
void KeepPictureBuffers();

} // namespace tarsel
