// The six RGB24 output formats of the capture pin and the negotiation
// rules over them. Free functions over CMediaType, named like the pin
// operations they serve: the pin that owns the current media type calls
// them under its own locks.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>

#include "framework/media_type.h"
#include "settings/frame_sizes.h"

namespace output_formats {

// Bytes of a picture for a bitmap header: rows padded to 4 bytes, times
// the absolute height.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);

// The media subtype for a bitmap header (RGB1..RGB32, RGB555/565, a
// four-character code), GUID_NULL when there is none.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* header);

// Fills target with the RGB24 FORMAT_VideoInfo type of FrameSizeTable
// entry `index`, AvgTimePerFrame = frameTime. An index outside the table
// gives E_INVALIDARG and a failed format allocation E_OUTOFMEMORY; in both
// cases the target is left untouched.
[[nodiscard]] HRESULT BuildMediaType(CMediaType* target, REFERENCE_TIME frameTime, int index);

// True for an uncompressed 24-bit header whose size is a table entry.
bool IsSupportedFormat(const VIDEOINFOHEADER* format);

// The pin's offer at a position: 0 is a copy of the current type, 1..5 the
// table entries built with frameTime; E_INVALIDARG below 0,
// VFW_S_NO_MORE_ITEMS from kFrameSizeTableCount on, E_POINTER for a null
// target.
[[nodiscard]] HRESULT GetMediaType(int position, CMediaType* target, const CMediaType& current, REFERENCE_TIME frameTime);

// S_OK only for a type byte-for-byte equal to the current one (GUIDs and
// format block); E_POINTER for null, E_FAIL otherwise.
[[nodiscard]] HRESULT CheckMediaType(const CMediaType* proposed, const CMediaType& current);

// Asks the allocator for buffers of the current image size aligned to 4,
// keeping the requested prefix: at least two, at most eight, and no more
// than four frames of 1920x1080 take together; E_FAIL when it grants less
// than a frame per buffer. The caller holds the filter's state lock.
[[nodiscard]] HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, const CMediaType& current);

// The type IAMStreamConfig::SetFormat asks for, checked and completed: a
// FORMAT_VideoInfo RGB24 type (GUID_NULL major type and subtype are taken
// as video and RGB24) of a table entry's size, with its image and sample
// size computed from the header, whatever the caller wrote.
// VFW_E_INVALIDMEDIATYPE for anything else, E_OUTOFMEMORY; the target is
// written only on success.
[[nodiscard]] HRESULT TypeFromStreamConfig(const AM_MEDIA_TYPE& requested, CMediaType* target);

// Writes a width and height into a VideoInfo type and recomputes its image
// size and sample size. E_INVALIDARG for a size outside
// 1..kMaxFrameDimension or a type without a VIDEOINFOHEADER; the type is
// then unchanged.
[[nodiscard]] HRESULT ApplyFrameSize(CMediaType* target, int width, int height);

// The stream configuration capabilities of one entry of the size table:
// the entry's own size everywhere, the frame intervals of the frame time
// range and the bit rates that follow from them.
void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS* caps, const FrameSize& size);

// The VIDEOINFOHEADER of a type, or null when it has none.
const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt);

}  // namespace output_formats
