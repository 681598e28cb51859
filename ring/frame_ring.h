// Frames handed from the program that captures the window (the writer,
// qmcamera in the user's session) to the media sources of the Media
// Foundation camera (the readers, inside the Frame Server service: session
// 0, LOCAL SERVICE, which cannot read the user's windows): shared memory
// holding a few frames, and events.
//
// Objects, per user U (the SID, as text, of the user whose camera it is)
// and camera number N (1..8), in the Global\ namespace:
//   Global\QMCapture.<U>.Camera<N>.Frames          the section (layout
//                                                  below)
//   Global\QMCapture.<U>.Camera<N>.ReaderChanged   auto-reset: a reader
//                                                  came, went or changed
//                                                  its request
//   Global\QMCapture.<U>.Camera<N>.FrameReady<k>   auto-reset, one per
//                                                  reader place k: a frame
//                                                  was committed
// The readers create them: a process of session 0 may create sections in
// Global\ freely, one of a user's session may not (that takes
// SeCreateGlobalPrivilege) but may open them, which the objects'
// descriptor allows that user alone, besides SYSTEM and LOCAL SERVICE
// (RingAccess). Each user's cameras thus have rings of their own that no
// other user may open, even with several users signed in at once. While no reader exists there is
// nothing to open, and nothing for the writer to do. Tests give another
// name prefix (Local\ and a suffix of their own).
//
// Layout of the section (offsets in bytes; every field a reader takes from
// it is checked before use, and every offset comes from the constants
// here, never from the section):
//   0      RingHeader: identity (magic, layout version, sizes), the writer
//          that holds the ring and its heartbeat, the latest published
//          frame, and kMaxReaders ReaderEntry places (each: token,
//          heartbeat, request)
//   4096   slot 0: SlotHeader (64 bytes: sequence, owner, the frame's
//          description), then kSlotCapacity bytes of data
//   4096 + kSlotStride, 4096 + 2 kSlotStride: slots 1 and 2
//
// One writer holds the ring at a time, up to kMaxReaders readers read it;
// the writer serves the newest valid request among the readers that still
// beat. A writer claims the ring with its identity (its process id and a
// token of its own, so that two writers of one process differ too) and
// beats; one whose process ended, or that has not beaten for
// kStaleAfterMs, can be replaced. A replaced writer may be stalled rather
// than dead, and it draws straight into slot memory without asking again;
// so each slot has an owner too, and the frames stay whole:
//  - A writer owns the slot it writes from BeginFrame, which takes it by a
//    compare-exchange of the slot's owner, until its commit or abandon.
//    No writer begins a slot another writer owns while that writer's
//    process runs (one whose process ended is taken back), nor the
//    published slot: of three slots, one is published, one may be held by
//    a stalled writer, and one is left for the writer that holds the ring.
//  - Each slot's sequence is a sequence lock: its owner makes it odd
//    before it writes any of the frame, and even once the frame and its
//    description are written; only then does it publish the slot.
//  - Publishing is a compare-exchange of `latest` from the value this
//    writer saw last (its own last publish, or what it read at Open or
//    after a publish failed). Once another writer has published, a
//    replaced writer's publish fails and its frame is dropped; numbers
//    rise by one with every frame published.
// A reader copies the latest slot only between two equal even reads of its
// sequence. Only the slot's owner writes into it, and only while it is
// odd, so a reader never returns a frame being written, nor one made of
// two writers' rows; it is retried only when a writer laps it. A writer
// that dies mid-frame leaves its slot odd and never published.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/pixel_format.h"
#include "settings/frame_sizes.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"

namespace frame_ring {

constexpr int kMinCamera = 1;
constexpr int kMaxCamera = 8;

// The name prefix of the real objects; tests pass their own.
inline constexpr wchar_t kGlobalPrefix[] = L"Global\\";
// The longest prefix the rings take.
constexpr size_t kMaxPrefixLength = 96;

// What a reader asks for: a size of FrameSizeTable, a format, and a frame
// time in 100-ns units within kMinFrameTime..kMaxFrameTime. The format is
// written into the ring as its value (PixelFormat's values are fixed), 0
// for no frames; a value no PixelFormat has is no request.
struct FrameRequest {
    int width;
    int height;
    PixelFormat format;
    int64_t frameTime;
};

// What the writer says of the frame it commits. The frame lies in the slot
// as LayoutOf(format, width, height) lays it out: top-down rows, unpadded
// but for RGB24's rows (padded to 4 bytes), the planes one after the
// other. `time` is the frame's capture time on the performance counter in
// 100-ns units (PerformanceCounterTime).
struct FrameDescription {
    int width;
    int height;
    PixelFormat format;
    int64_t time;
};

// What a reader learns of the frame it copied; `dataSize` the bytes of all
// its planes (LayoutOf's imageBytes).
struct FrameInfo {
    int width;
    int height;
    PixelFormat format;
    uint32_t dataSize;
    int64_t time;
    uint64_t frameNumber;
};

// Where a writer writes a frame: the slot's data, its capacity, and the
// number the frame will have once published.
struct FrameSlot {
    BYTE* data;
    size_t capacity;
    uint64_t frameNumber;
};

enum class WaitResult { Signalled, Woken, TimedOut, Failed };

// ---- Layout -----------------------------------------------------------------

constexpr uint32_t kMagic = 0x52464D51;  // "QMFR"
// The magic while the creating reader fills in the header.
constexpr uint32_t kInitialising = 0x494E4954;  // "TINI"
// 3: frames of every PixelFormat, laid out by LayoutOf, formats stored as
// PixelFormat's values (2 knew NV12 as 1 and RGB32 as 2, at a stride of
// the writer's).
constexpr uint32_t kLayoutVersion = 3;
constexpr uint32_t kSlotCount = 3;
constexpr uint32_t kMaxReaders = 8;
// A reader or writer that has not beaten for this long counts as gone.
constexpr DWORD kStaleAfterMs = 3000;

constexpr size_t kHeaderBytes = 4096;
constexpr size_t kSlotHeaderBytes = 64;

// The largest frame of any size of the table in any format.
constexpr size_t LargestFrameBytes() {
    size_t largest = 0;
    for (const FrameSize& size : FrameSizeTable) {
        for (const PixelFormat format : kPixelFormats) {
            const size_t bytes = LayoutOf(format, size.width, size.height).imageBytes;
            largest = bytes > largest ? bytes : largest;
        }
    }
    return largest;
}

// Room for the largest frame (RGB32 at 1920x1080).
constexpr size_t kSlotCapacity = LargestFrameBytes();
// Slots start on pages of their own.
constexpr size_t kSlotStride = (kSlotHeaderBytes + kSlotCapacity + 4095) / 4096 * 4096;
constexpr size_t kSectionBytes = kHeaderBytes + kSlotCount * kSlotStride;
static_assert(kSectionBytes < 0x7FFFFFFF, "the section's size fits 32 bits");

using SharedU32 = std::atomic<uint32_t>;
using SharedU64 = std::atomic<uint64_t>;
using SharedI64 = std::atomic<int64_t>;
// Shared memory holds only atomics that need no lock: those work between
// processes that map the same memory.
static_assert(SharedU32::is_always_lock_free && SharedU64::is_always_lock_free && SharedI64::is_always_lock_free,
              "lock-free atomics in shared memory");

// One reader's place: written by its reader, read by the writer. The
// request fields change only inside requestSequence's odd phase.
struct ReaderEntry {
    SharedU32 token;      // 0: free; else the reader's token
    SharedU32 heartbeat;  // GetTickCount at the reader's last sign of life
    SharedU32 requestSequence;
    SharedU32 requestSerial;  // order of requests over all readers
    SharedU32 width;
    SharedU32 height;
    SharedU32 format;  // a PixelFormat's value; 0: no frames wanted
    SharedU32 reserved;
    SharedI64 frameTime;
    BYTE padding[24];
};
static_assert(offsetof(ReaderEntry, frameTime) == 32 && sizeof(ReaderEntry) == 64, "one cache line per reader");

struct RingHeader {
    // Identity, written once by the reader that creates the section.
    SharedU32 magic;
    SharedU32 version;
    SharedU32 headerBytes;
    SharedU32 slotCount;
    SharedU32 slotCapacity;
    SharedU32 slotStride;
    SharedU32 sectionBytes;
    SharedU32 maxReaders;
    // Counters the readers share, and the one the writers share.
    SharedU32 nextReaderToken;
    SharedU32 requestCounter;
    SharedU32 nextWriterToken;
    // GetTickCount when the writer that holds the ring last beat.
    SharedU32 writerHeartbeat;
    // The latest published frame: its number << 8 | its slot; 0: none yet.
    SharedU64 latest;
    // The writer that holds the ring: its process id << 32 | its token
    // (never 0); 0: none.
    SharedU64 writer;
    ReaderEntry readers[kMaxReaders];
};
static_assert(offsetof(RingHeader, writerHeartbeat) == 44 && offsetof(RingHeader, latest) == 48 &&
                  offsetof(RingHeader, writer) == 56 && offsetof(RingHeader, readers) == 64,
              "the header's layout");
static_assert(sizeof(RingHeader) <= kHeaderBytes, "the header fits its page");

struct SlotHeader {
    SharedU32 sequence;  // odd while being written
    SharedU32 width;
    SharedU32 height;
    SharedU32 format;  // a PixelFormat's value
    SharedU32 reserved;
    SharedU32 dataSize;
    SharedU64 frameNumber;
    SharedI64 time;
    // The writer that writes the slot (as RingHeader::writer), from its
    // BeginFrame to its commit or abandon; 0: none.
    SharedU64 owner;
    BYTE padding[16];
};
static_assert(offsetof(SlotHeader, frameNumber) == 24 && offsetof(SlotHeader, time) == 32 &&
                  offsetof(SlotHeader, owner) == 40 && sizeof(SlotHeader) == kSlotHeaderBytes,
              "the slot header's layout");

// ---- Rules both sides check -------------------------------------------------

// Whether width x height is a size of FrameSizeTable.
bool IsTableSize(int width, int height);

// Whether a request is one the writer can serve.
bool IsValidRequest(const FrameRequest& request);

// The bytes of a frame as described (LayoutOf's imageBytes), when the
// description is valid: a table size, a known format, and everything
// within kSlotCapacity. False otherwise.
[[nodiscard]] bool DataSizeOf(const FrameDescription& frame, uint32_t* dataSize);

// Whether the identity fields hold this layout's constants.
bool HasValidIdentity(const RingHeader& header);

// GetTickCount's now against a heartbeat: true when more than
// kStaleAfterMs apart either way (a heartbeat a little ahead of `now` is
// one stamped after `now` was read).
bool IsStale(uint32_t heartbeat, uint32_t now);

// ---- Whose ring, its names and who may use it ------------------------------

// The characters of the longest SID as text, with its terminating null
// (SECURITY_MAX_SID_STRING_CHARACTERS).
constexpr size_t kMaxSidTextLength = 187;

// The SID of the user whose camera a ring is, as text ("S-1-5-21-...").
struct OwnerSid {
    wchar_t text[kMaxSidTextLength];
};

// The user of this process's token: the owner of the cameras of the
// capturing program, and of a media source that a client of the user runs
// in its own process.
[[nodiscard]] HRESULT ProcessUserSid(OwnerSid* owner);
// The SID of a user's account given as text (by another process),
// checked and written the one way the names use. E_INVALIDARG for
// anything but a local, domain or Azure AD account's SID (a group such as
// everyone or the interactive users, a service, an alias, no SID at all):
// nothing written. E_POINTER for null.
[[nodiscard]] HRESULT ParseOwnerSid(const wchar_t* text, OwnerSid* owner);

// Room for prefix + "QMCapture." + SID + ".Camera<N>." + the longest object
// name and the terminating null.
constexpr size_t kMaxObjectNameLength = kMaxPrefixLength + 10 + kMaxSidTextLength + 9 + 14;
// Room for a self-relative descriptor of three ACEs, one of them with the
// longest SID.
constexpr size_t kMaxDescriptorBytes = 256;

// Where one camera's ring of one user lives and who may use it: the names
// of its objects (prefix + "QMCapture." + SID + ".Camera<N>." + what) and
// the self-relative security descriptor a reader creates them with.
// Built once (BuildRingAccess), where a failure can be reported; copied
// and used afterwards without allocating. The descriptor: no rights
// inherited from the namespace (P); SYSTEM and LOCAL SERVICE (the Frame
// Server and its sources) all rights; the owner (the capturing program in
// the user's session) read, write and wait, which is what mapping the
// section read-write, setting the frame events and waiting for
// ReaderChanged take, but neither changing the descriptor or owner nor
// deleting. Nobody else: neither another interactive user nor everyone.
struct RingAccess {
    int camera;
    wchar_t frames[kMaxObjectNameLength];
    wchar_t readerChanged[kMaxObjectNameLength];
    wchar_t frameReady[kMaxReaders][kMaxObjectNameLength];
    alignas(8) BYTE descriptor[kMaxDescriptorBytes];
};

// The ring of camera 1..kMaxCamera of `owner` under `prefix`. E_INVALIDARG
// for another camera number, a null prefix or one longer than
// kMaxPrefixLength, an owner that is not a SID; E_POINTER for a null
// access. Nothing written on failure.
[[nodiscard]] HRESULT BuildRingAccess(int camera, const wchar_t* prefix, const OwnerSid& owner, RingAccess* access);
// The ring of this process's user (ProcessUserSid).
[[nodiscard]] HRESULT BuildRingAccessOfProcessUser(int camera, const wchar_t* prefix, RingAccess* access);

// ---- Owners -------------------------------------------------------------------

struct MappedViewTraits {
    using Type = void*;
    static Type Null() { return nullptr; }
    static void Close(Type view) { ::UnmapViewOfFile(view); }
};

// Memory the platform hands out with LocalAlloc (a SID or descriptor
// converted from text).
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Null() { return nullptr; }
    static void Close(Type memory) { ::LocalFree(memory); }
};

// The section and its view of kSectionBytes.
class SectionView {
public:
    // Creates the section, or opens it when it exists already.
    [[nodiscard]] HRESULT Create(const wchar_t* name, SECURITY_ATTRIBUTES* attributes);
    // Opens an existing section: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
    // while there is none.
    [[nodiscard]] HRESULT Open(const wchar_t* name);

    bool IsMapped() const { return static_cast<bool>(m_view); }
    RingHeader* Header() const { return static_cast<RingHeader*>(m_view.get()); }
    SlotHeader* Slot(uint32_t index) const;
    BYTE* SlotData(uint32_t index) const;

private:
    [[nodiscard]] HRESULT Map();

    UniqueHandle m_section;
    UniqueResource<MappedViewTraits> m_view;
};

}  // namespace frame_ring

// The media source's side: creates the ring's objects (or joins a ring
// that another reader created), takes a reader place, says which frames
// it wants and copies the latest frame out. Its calls must not overlap:
// one thread at a time (the source serialises them).
class CFrameRingReader {
public:
    CFrameRingReader() = default;
    // Gives the reader place up and tells the writer.
    ~CFrameRingReader();
    CFrameRingReader(const CFrameRingReader&) = delete;
    CFrameRingReader& operator=(const CFrameRingReader&) = delete;

    // Creates or joins the ring that `access` describes (copied: it need
    // not outlive the call), without allocating.
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when an existing section is
    // not a ring of this layout; HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)
    // when every reader place is taken; E_UNEXPECTED when created already;
    // the platform's error when an object cannot be made or opened. A
    // reader whose Create failed may try again.
    [[nodiscard]] HRESULT Create(const frame_ring::RingAccess& access);
    // The same for the ring of this process's user, of camera
    // 1..kMaxCamera under `prefix` (E_INVALIDARG as BuildRingAccess).
    [[nodiscard]] HRESULT Create(int camera, const wchar_t* prefix = frame_ring::kGlobalPrefix);

    // Asks for frames (E_INVALIDARG unless frame_ring::IsValidRequest),
    // or for none; the writer is told.
    [[nodiscard]] HRESULT SetRequest(const frame_ring::FrameRequest& request);
    [[nodiscard]] HRESULT ClearRequest();

    // A sign of life; a reader silent for kStaleAfterMs counts as gone.
    // When its place was taken meanwhile, takes another (and writes its
    // request there again).
    [[nodiscard]] HRESULT Heartbeat();

    // Beats, then waits until a frame is committed, `wake` (optional) is
    // signalled, or the time is up.
    [[nodiscard]] frame_ring::WaitResult WaitForFrame(DWORD timeoutMs, HANDLE wake);

    // Copies the latest committed frame, when it is one this reader has
    // not copied yet, into `destination`, laid out as in the ring
    // (LayoutOf). S_OK: copied, `info` filled. S_FALSE: no new
    // frame (none committed since, or the writer kept rewriting the slot).
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA): the ring's header or slot
    // failed a check, so there is no frame; nothing was copied.
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER): the frame does not fit
    // (`info` says what it is). E_POINTER, E_UNEXPECTED (not created).
    // The first frame a reader copies may have been committed before it
    // came (the ring outlives its readers while the writer holds it):
    // FrameInfo::time tells its age.
    [[nodiscard]] HRESULT CopyLatest(BYTE* destination, size_t capacity, frame_ring::FrameInfo* info);

    // Whether a writer holds the ring and has beaten within kStaleAfterMs.
    [[nodiscard]] bool IsWriterAlive() const;

    // The reader's place, -1 before Create (for tests).
    int ReaderPlaceForTesting() const { return m_place; }

private:
    [[nodiscard]] HRESULT CreateRing();
    [[nodiscard]] HRESULT TakePlace();
    void WriteRequest();
    void LeavePlace();
    void Close();

    frame_ring::RingAccess m_access = {};
    SECURITY_ATTRIBUTES m_security = {};
    frame_ring::SectionView m_view;
    UniqueHandle m_readerChanged;
    UniqueHandle m_frameReady;
    int m_place = -1;
    uint32_t m_token = 0;
    frame_ring::FrameRequest m_request = {};
    bool m_delivered = false;
    uint64_t m_lastFrameNumber = 0;
};

// The capturing program's side: opens a ring that readers created, claims
// it as its one writer, learns what the readers want and commits frames.
// Used on one thread.
class CFrameRingWriter {
public:
    CFrameRingWriter() = default;
    // Gives the ring up; a frame begun and not committed stays unpublished,
    // and its slot is let go.
    ~CFrameRingWriter();
    CFrameRingWriter(const CFrameRingWriter&) = delete;
    CFrameRingWriter& operator=(const CFrameRingWriter&) = delete;

    // Opens the ring that `access` describes (copied).
    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) while no reader has created
    // it (poll); HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a section of
    // another layout; HRESULT_FROM_WIN32(ERROR_BUSY) while another writer
    // that is alive holds it; E_UNEXPECTED when open already.
    [[nodiscard]] HRESULT Open(const frame_ring::RingAccess& access);
    // The same for the ring of this process's user, of camera
    // 1..kMaxCamera under `prefix` (E_INVALIDARG as BuildRingAccess): the
    // ring of the cameras this user's capturing program feeds.
    [[nodiscard]] HRESULT Open(int camera, const wchar_t* prefix = frame_ring::kGlobalPrefix);

    // Beats, then tells whether a reader wants frames: S_OK and the
    // newest valid request of the readers that beat, or S_FALSE (request
    // zeroed) when none does. Requests that are not valid are ignored.
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a broken header,
    // HRESULT_FROM_WIN32(ERROR_BUSY) when another writer took the ring over.
    [[nodiscard]] HRESULT Request(frame_ring::FrameRequest* request);

    // Waits until a reader comes, goes or changes its request, `wake`
    // (optional) is signalled, or the time is up.
    [[nodiscard]] frame_ring::WaitResult WaitForReaderChange(DWORD timeoutMs, HANDLE wake);

    // The slot to write the next frame into, this writer's until its
    // commit (a slot no reader is given meanwhile, and no other writer);
    // again the same slot while a begun frame is not committed.
    // HRESULT_FROM_WIN32(ERROR_BUSY) when another writer took the ring over
    // (a begun frame is abandoned), or while every slot but the published
    // one is held by other writers whose processes run.
    [[nodiscard]] HRESULT BeginFrame(frame_ring::FrameSlot* slot);

    // Publishes the begun frame and signals the readers. E_INVALIDARG
    // (nothing published, the frame stays begun) unless
    // frame_ring::DataSizeOf accepts the description; E_UNEXPECTED without
    // a begun frame. HRESULT_FROM_WIN32(ERROR_BUSY) when another writer took
    // the ring over or has published since this writer last did: the frame
    // is dropped unpublished, and the next one goes on from the latest.
    [[nodiscard]] HRESULT CommitFrame(const frame_ring::FrameDescription& frame);

    // Where BeginFrame and CommitFrame have found that this writer holds
    // the ring and have not yet acted on it. A test's hook runs there, on
    // the writer's thread, as a stall of that length would: it may drive
    // another writer of the ring meanwhile.
    enum class PausePoint { AfterBeginCheck, AfterCommitCheck };
    using PauseHook = void (*)(PausePoint point, void* context);
    void SetPauseHookForTesting(PauseHook hook, void* context) {
        m_pauseHook = hook;
        m_pauseContext = context;
    }

private:
    [[nodiscard]] HRESULT OpenRing();
    [[nodiscard]] HRESULT ClaimRing();
    [[nodiscard]] bool HoldsRing() const;
    [[nodiscard]] HRESULT ClaimSlot(uint32_t* index);
    // Lets the begun frame's slot go, unpublished.
    void AbandonFrame();
    void Pause(PausePoint point);
    void Close();
    void SignalReaders(uint32_t now);

    CThreadChecker m_thread;
    frame_ring::RingAccess m_access = {};
    frame_ring::SectionView m_view;
    UniqueHandle m_readerChanged;
    // Per reader place: its event, once opened.
    UniqueHandle m_frameReady[frame_ring::kMaxReaders];
    // This writer's identity in the ring (RingHeader::writer), once it
    // claimed it.
    uint64_t m_identity = 0;
    // `latest` as this writer last saw it: its own last publish, or what
    // it read at Open or after a publish failed. The next frame's number
    // follows it, and it is what the next publish replaces.
    uint64_t m_seenLatest = 0;
    // The frame begun: its slot (owned by this writer) and the odd
    // sequence it was given.
    bool m_begun = false;
    uint32_t m_beginSlot = 0;
    uint32_t m_beginSequence = 0;
    PauseHook m_pauseHook = nullptr;
    void* m_pauseContext = nullptr;
};
