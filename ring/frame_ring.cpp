#include "ring/frame_ring.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "framework/performance_counter.h"
#include "settings/frame_time.h"

using namespace frame_ring;

namespace {

const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
const HRESULT kRingBusy = HRESULT_FROM_WIN32(ERROR_BUSY);

// How often a reader tries to copy the latest frame before it reports that
// there is none for now: it retries only when the writer lapped it.
constexpr int kCopyAttempts = 4;
// The same for the writer reading a request, which a reader rewrites in
// a few stores.
constexpr int kRequestReadAttempts = 4;
// How long a reader that joins a new ring waits for the reader that
// created it to fill in the header (a few stores).
constexpr int kInitialiseWaitMs = 1000;

constexpr uint64_t PackLatest(uint64_t frameNumber, uint32_t slot) {
    return (frameNumber << 8) | slot;
}
constexpr uint32_t SlotOfLatest(uint64_t latest) {
    return static_cast<uint32_t>(latest & 0xFF);
}
constexpr uint64_t FrameNumberOfLatest(uint64_t latest) {
    return latest >> 8;
}
// Whether `latest` publishes slot `index`.
constexpr bool IsPublished(uint64_t latest, uint32_t index) {
    return latest != 0 && SlotOfLatest(latest) == index;
}

constexpr uint64_t PackWriter(uint32_t process, uint32_t token) {
    return (static_cast<uint64_t>(process) << 32) | token;
}
constexpr uint32_t ProcessOfWriter(uint64_t writer) {
    return static_cast<uint32_t>(writer >> 32);
}

// The odd value that starts a sequence lock's write phase: the next one,
// or the one after when a writer that died left it odd.
constexpr uint32_t BeginSequence(uint32_t sequence) {
    return sequence % 2 == 0 ? sequence + 1 : sequence + 2;
}

bool IsCamera(int camera) {
    return camera >= kMinCamera && camera <= kMaxCamera;
}

bool IsPrefix(const wchar_t* prefix) {
    return prefix != nullptr && std::wcslen(prefix) <= kMaxPrefixLength;
}

void WriteIdentity(RingHeader* header) {
    header->version.store(kLayoutVersion, std::memory_order_relaxed);
    header->headerBytes.store(static_cast<uint32_t>(kHeaderBytes), std::memory_order_relaxed);
    header->slotCount.store(kSlotCount, std::memory_order_relaxed);
    header->slotCapacity.store(static_cast<uint32_t>(kSlotCapacity), std::memory_order_relaxed);
    header->slotStride.store(static_cast<uint32_t>(kSlotStride), std::memory_order_relaxed);
    header->sectionBytes.store(static_cast<uint32_t>(kSectionBytes), std::memory_order_relaxed);
    header->maxReaders.store(kMaxReaders, std::memory_order_relaxed);
    // Last: who sees the magic sees the rest.
    header->magic.store(kMagic, std::memory_order_release);
}

struct RequestRead {
    FrameRequest request;
    // Whether the stored format is a PixelFormat's value; a request
    // without one (none, or of another build) is no request.
    bool knownFormat;
    uint32_t serial;
};

// A reader's request, read between two equal even reads of its sequence.
bool ReadRequest(const ReaderEntry& entry, RequestRead* read) {
    for (int attempt = 0; attempt < kRequestReadAttempts; ++attempt) {
        const uint32_t before = entry.requestSequence.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            continue;
        }
        read->request.width = static_cast<int>(entry.width.load(std::memory_order_relaxed));
        read->request.height = static_cast<int>(entry.height.load(std::memory_order_relaxed));
        read->knownFormat =
            PixelFormatFromValue(entry.format.load(std::memory_order_relaxed), &read->request.format);
        read->request.frameTime = entry.frameTime.load(std::memory_order_relaxed);
        read->serial = entry.requestSerial.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (entry.requestSequence.load(std::memory_order_relaxed) == before) {
            return true;
        }
    }
    return false;
}

// Whether a slot's sequence still reads `before`: what was read of the
// slot since is the frame committed with that sequence.
bool Unchanged(const SlotHeader& slot, uint32_t before) {
    std::atomic_thread_fence(std::memory_order_acquire);
    return slot.sequence.load(std::memory_order_relaxed) == before;
}

// Whether the process that claimed a ring still runs. A process this one
// may not open is taken as running; one that no longer exists, or has
// ended, is not.
bool ProcessRuns(uint32_t processId) {
    const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) {
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    }
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

WaitResult Wait(HANDLE signal, HANDLE wake, DWORD timeoutMs) {
    const HANDLE handles[2] = {signal, wake};
    switch (::WaitForMultipleObjects(wake != nullptr ? 2 : 1, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_OBJECT_0 + 1:
        return WaitResult::Woken;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

}  // namespace

// ---- Rules ----------------------------------------------------------------------

bool frame_ring::IsTableSize(int width, int height) {
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        if (FrameSizeTable[i].width == width && FrameSizeTable[i].height == height) {
            return true;
        }
    }
    return false;
}

namespace {

bool IsKnownFormat(PixelFormat format) {
    PixelFormat known = PixelFormat::Rgb24;
    return PixelFormatFromValue(static_cast<uint32_t>(format), &known);
}

}  // namespace

bool frame_ring::IsValidRequest(const FrameRequest& request) {
    return IsTableSize(request.width, request.height) && IsKnownFormat(request.format) &&
           LayoutOf(request.format, request.width, request.height).imageBytes != 0 &&
           request.frameTime >= kMinFrameTime && request.frameTime <= kMaxFrameTime;
}

bool frame_ring::DataSizeOf(const FrameDescription& frame, uint32_t* dataSize) {
    if (!IsTableSize(frame.width, frame.height) || !IsKnownFormat(frame.format)) {
        return false;
    }
    const size_t bytes = LayoutOf(frame.format, frame.width, frame.height).imageBytes;
    if (bytes == 0 || bytes > kSlotCapacity) {
        return false;
    }
    *dataSize = static_cast<uint32_t>(bytes);
    return true;
}

bool frame_ring::HasValidIdentity(const RingHeader& header) {
    return header.magic.load(std::memory_order_acquire) == kMagic &&
           header.version.load(std::memory_order_relaxed) == kLayoutVersion &&
           header.headerBytes.load(std::memory_order_relaxed) == kHeaderBytes &&
           header.slotCount.load(std::memory_order_relaxed) == kSlotCount &&
           header.slotCapacity.load(std::memory_order_relaxed) == kSlotCapacity &&
           header.slotStride.load(std::memory_order_relaxed) == kSlotStride &&
           header.sectionBytes.load(std::memory_order_relaxed) == kSectionBytes &&
           header.maxReaders.load(std::memory_order_relaxed) == kMaxReaders;
}

bool frame_ring::IsStale(uint32_t heartbeat, uint32_t now) {
    const int64_t age = static_cast<int32_t>(now - heartbeat);
    return age > static_cast<int64_t>(kStaleAfterMs) || age < -static_cast<int64_t>(kStaleAfterMs);
}

namespace {

// A SID as text, the one way ConvertSidToStringSidW writes it.
HRESULT SidText(PSID sid, OwnerSid* owner) {
    wchar_t* text = nullptr;
    RETURN_HR_IF(HResultFromLastError(), !::ConvertSidToStringSidW(sid, &text));
    const UniqueResource<LocalMemoryTraits> textOwner(text);
    const size_t length = std::wcslen(text);
    RETURN_HR_IF(E_INVALIDARG, length >= kMaxSidTextLength);
    std::wmemcpy(owner->text, text, length + 1);
    return S_OK;
}

// Whether `sid` names a user's account: a local or domain account
// (S-1-5-21-...) or an Azure AD account (S-1-12-1-...); never a group,
// an alias such as "everyone" or a service.
bool IsUserAccount(PSID sid) {
    const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const SID_IDENTIFIER_AUTHORITY azure = {{0, 0, 0, 0, 0, 12}};
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
    if (*::GetSidSubAuthorityCount(sid) < 2) {
        return false;
    }
    const DWORD first = *::GetSidSubAuthority(sid, 0);
    return (std::memcmp(authority, &nt, sizeof(nt)) == 0 && first == SECURITY_NT_NON_UNIQUE) ||
           (std::memcmp(authority, &azure, sizeof(azure)) == 0 && first == 1);
}

}  // namespace

HRESULT frame_ring::ProcessUserSid(OwnerSid* owner) {
    RETURN_HR_IF_NULL(E_POINTER, owner);
    HANDLE token = nullptr;
    RETURN_HR_IF(HResultFromLastError(), !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    const UniqueHandle tokenOwner(token);
    // TOKEN_USER followed by its SID.
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    RETURN_HR_IF(HResultFromLastError(), !::GetTokenInformation(token, TokenUser, user, sizeof(user), &size));
    // Whatever account the process runs as, a service's too: its own ring
    // is no other user's.
    return SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, owner);
}

HRESULT frame_ring::ParseOwnerSid(const wchar_t* text, OwnerSid* owner) {
    RETURN_HR_IF(E_POINTER, text == nullptr || owner == nullptr);
    PSID sid = nullptr;
    RETURN_HR_IF(E_INVALIDARG, !::ConvertStringSidToSidW(text, &sid));
    const UniqueResource<LocalMemoryTraits> sidOwner(sid);
    RETURN_HR_IF(E_INVALIDARG, !::IsValidSid(sid) || !IsUserAccount(sid));
    // Written back from the SID itself: the one spelling the names use,
    // whatever spelling came in.
    OwnerSid canonical = {};
    RETURN_IF_FAILED(SidText(sid, &canonical));
    *owner = canonical;
    return S_OK;
}

namespace {

// Appends `text` to the name in `name` (`length` characters so far);
// false when it does not fit with its terminating null.
bool Append(wchar_t (&name)[kMaxObjectNameLength], size_t* length, const wchar_t* text) {
    const size_t add = std::wcslen(text);
    if (*length + add >= kMaxObjectNameLength) {
        return false;
    }
    std::wmemcpy(name + *length, text, add + 1);
    *length += add;
    return true;
}

// prefix + "QMCapture." + owner + ".Camera<N>." + what (+ the number
// `index` when it is 0 or more).
bool BuildName(wchar_t (&name)[kMaxObjectNameLength], const wchar_t* prefix, const OwnerSid& owner, int camera,
               const wchar_t* what, int index = -1) {
    const wchar_t cameraDigit[] = {static_cast<wchar_t>(L'0' + camera), L'\0'};
    const wchar_t indexDigit[] = {static_cast<wchar_t>(L'0' + index), L'\0'};
    size_t length = 0;
    name[0] = L'\0';
    return Append(name, &length, prefix) && Append(name, &length, L"QMCapture.") &&
           Append(name, &length, owner.text) && Append(name, &length, L".Camera") &&
           Append(name, &length, cameraDigit) && Append(name, &length, L".") && Append(name, &length, what) &&
           (index < 0 || Append(name, &length, indexDigit));
}

}  // namespace

static_assert(kMaxCamera < 10 && kMaxReaders <= 10, "camera numbers and reader places are one digit in the names");

HRESULT frame_ring::BuildRingAccess(int camera, const wchar_t* prefix, const OwnerSid& owner, RingAccess* access) {
    RETURN_HR_IF_NULL(E_POINTER, access);
    RETURN_HR_IF(E_INVALIDARG, !IsCamera(camera) || !IsPrefix(prefix));
    // A SID, the one way it is written.
    PSID sid = nullptr;
    RETURN_HR_IF(E_INVALIDARG, ::wmemchr(owner.text, L'\0', kMaxSidTextLength) == nullptr ||
                                   !::ConvertStringSidToSidW(owner.text, &sid));
    const UniqueResource<LocalMemoryTraits> sidOwner(sid);
    OwnerSid checked = {};
    RETURN_IF_FAILED(SidText(sid, &checked));
    // Large for a stack (a few kilobytes), but built once per ring.
    RingAccess built = {};
    built.camera = camera;
    bool named = BuildName(built.frames, prefix, checked, camera, L"Frames") &&
                 BuildName(built.readerChanged, prefix, checked, camera, L"ReaderChanged");
    for (uint32_t place = 0; place < kMaxReaders && named; ++place) {
        named = BuildName(built.frameReady[place], prefix, checked, camera, L"FrameReady", static_cast<int>(place));
    }
    RETURN_HR_IF(E_INVALIDARG, !named);

    wchar_t sddl[64 + kMaxSidTextLength] = L"D:P(A;;GA;;;SY)(A;;GA;;;LS)(A;;GRGWGX;;;";
    const size_t head = std::wcslen(sddl);
    const size_t sidLength = std::wcslen(checked.text);
    std::wmemcpy(sddl + head, checked.text, sidLength);
    sddl[head + sidLength] = L')';
    sddl[head + sidLength + 1] = L'\0';
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    RETURN_HR_IF(HResultFromLastError(),
                 !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    const UniqueResource<LocalMemoryTraits> descriptorOwner(descriptor);
    // Self-relative, as the conversion makes it: one block that copies.
    const DWORD bytes = ::GetSecurityDescriptorLength(descriptor);
    RETURN_HR_IF(E_UNEXPECTED, bytes == 0 || bytes > sizeof(built.descriptor));
    std::memcpy(built.descriptor, descriptor, bytes);
    *access = built;
    return S_OK;
}

HRESULT frame_ring::BuildRingAccessOfProcessUser(int camera, const wchar_t* prefix, RingAccess* access) {
    OwnerSid user = {};
    RETURN_IF_FAILED(ProcessUserSid(&user));
    return BuildRingAccess(camera, prefix, user, access);
}

// ---- Owners -----------------------------------------------------------------------

HRESULT frame_ring::SectionView::Create(const wchar_t* name, SECURITY_ATTRIBUTES* attributes) {
    const uint64_t bytes = kSectionBytes;
    m_section.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE,
                                         static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes), name));
    RETURN_HR_IF(HResultFromLastError(), !m_section);
    return Map();
}

HRESULT frame_ring::SectionView::Open(const wchar_t* name) {
    m_section.reset(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name));
    if (!m_section) {
        const DWORD error = ::GetLastError();
        // No reader yet: what a writer sees until one comes, not a failure.
        if (error == ERROR_FILE_NOT_FOUND) {
            return HRESULT_FROM_WIN32(error);
        }
        RETURN_HR_IF(HResultFromWin32(error), true);
    }
    return Map();
}

HRESULT frame_ring::SectionView::Map() {
    // A section smaller than this layout's (another version's) cannot be
    // mapped at this size.
    m_view.reset(::MapViewOfFile(m_section.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSectionBytes));
    RETURN_HR_IF(HResultFromLastError(), !m_view);
    return S_OK;
}

SlotHeader* frame_ring::SectionView::Slot(uint32_t index) const {
    QM_DCHECK(index < kSlotCount);
    return reinterpret_cast<SlotHeader*>(static_cast<BYTE*>(m_view.get()) + kHeaderBytes + index * kSlotStride);
}

BYTE* frame_ring::SectionView::SlotData(uint32_t index) const {
    return reinterpret_cast<BYTE*>(Slot(index)) + kSlotHeaderBytes;
}

// ---- Reader -------------------------------------------------------------------------

CFrameRingReader::~CFrameRingReader() {
    Close();
}

void CFrameRingReader::Close() {
    LeavePlace();
    m_readerChanged.reset();
    m_view = SectionView();
}

HRESULT CFrameRingReader::Create(const RingAccess& access) {
    RETURN_HR_IF(E_UNEXPECTED, m_view.IsMapped());
    m_access = access;
    m_security.nLength = sizeof(m_security);
    m_security.lpSecurityDescriptor = m_access.descriptor;
    m_security.bInheritHandle = FALSE;
    const HRESULT hr = CreateRing();
    if (FAILED(hr)) {
        Close();
    }
    return hr;
}

HRESULT CFrameRingReader::Create(int camera, const wchar_t* prefix) {
    RETURN_HR_IF(E_UNEXPECTED, m_view.IsMapped());
    RingAccess access = {};
    RETURN_IF_FAILED(BuildRingAccessOfProcessUser(camera, prefix, &access));
    return Create(access);
}

HRESULT CFrameRingReader::CreateRing() {
    RETURN_IF_FAILED(m_view.Create(m_access.frames, &m_security));
    RingHeader* const header = m_view.Header();
    // A new section is all zeros: the reader that turns the magic from 0
    // fills in the header; any other waits until it has.
    uint32_t expected = 0;
    if (header->magic.compare_exchange_strong(expected, kInitialising, std::memory_order_acq_rel)) {
        WriteIdentity(header);
    } else {
        for (int waited = 0;
             header->magic.load(std::memory_order_acquire) == kInitialising && waited < kInitialiseWaitMs; ++waited) {
            ::Sleep(1);
        }
    }
    RETURN_HR_IF(kInvalidData, !HasValidIdentity(*header));
    m_readerChanged.reset(::CreateEventW(&m_security, FALSE, FALSE, m_access.readerChanged));
    RETURN_HR_IF(HResultFromLastError(), !m_readerChanged);
    return TakePlace();
}

HRESULT CFrameRingReader::TakePlace() {
    RingHeader* const header = m_view.Header();
    uint32_t token = header->nextReaderToken.fetch_add(1, std::memory_order_relaxed) + 1;
    if (token == 0) {
        token = header->nextReaderToken.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    const uint32_t now = ::GetTickCount();
    for (uint32_t place = 0; place < kMaxReaders && m_place < 0; ++place) {
        ReaderEntry& entry = header->readers[place];
        uint32_t current = entry.token.load(std::memory_order_acquire);
        // A free place, or one whose reader stopped beating.
        if (current != 0 && !IsStale(entry.heartbeat.load(std::memory_order_acquire), now)) {
            continue;
        }
        if (entry.token.compare_exchange_strong(current, token, std::memory_order_acq_rel)) {
            m_place = static_cast<int>(place);
            m_token = token;
        }
    }
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), m_place < 0);
    // The request before the heartbeat: the writer heeds a place only once
    // it beats, and must not serve the previous reader's request.
    WriteRequest();
    header->readers[m_place].heartbeat.store(::GetTickCount(), std::memory_order_release);
    m_frameReady.reset(::CreateEventW(&m_security, FALSE, FALSE, m_access.frameReady[m_place]));
    if (!m_frameReady) {
        const HRESULT hr = HResultFromLastError();
        LeavePlace();
        RETURN_HR_IF(hr, FAILED(hr));
    }
    QM_IGNORE(::SetEvent(m_readerChanged.get()), "the writer also looks at the readers every time it waits");
    return S_OK;
}

void CFrameRingReader::LeavePlace() {
    if (m_place < 0) {
        return;
    }
    ReaderEntry& entry = m_view.Header()->readers[m_place];
    // Only while it is still this reader's: another may have taken it.
    uint32_t token = m_token;
    entry.token.compare_exchange_strong(token, 0, std::memory_order_acq_rel);
    m_frameReady.reset();
    m_place = -1;
    m_token = 0;
    QM_IGNORE(::SetEvent(m_readerChanged.get()), "the writer also sees the place free when it next looks");
}

void CFrameRingReader::WriteRequest() {
    RingHeader* const header = m_view.Header();
    ReaderEntry& entry = header->readers[m_place];
    const uint32_t begin = BeginSequence(entry.requestSequence.load(std::memory_order_relaxed));
    entry.requestSequence.store(begin, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    entry.width.store(static_cast<uint32_t>(m_request.width), std::memory_order_relaxed);
    entry.height.store(static_cast<uint32_t>(m_request.height), std::memory_order_relaxed);
    entry.format.store(static_cast<uint32_t>(m_request.format), std::memory_order_relaxed);
    entry.frameTime.store(m_request.frameTime, std::memory_order_relaxed);
    entry.requestSerial.store(header->requestCounter.fetch_add(1, std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
    entry.requestSequence.store(begin + 1, std::memory_order_release);
}

HRESULT CFrameRingReader::SetRequest(const FrameRequest& request) {
    RETURN_HR_IF(E_UNEXPECTED, m_place < 0);
    RETURN_HR_IF(E_INVALIDARG, !IsValidRequest(request));
    m_request = request;
    WriteRequest();
    QM_IGNORE(::SetEvent(m_readerChanged.get()), "the writer also reads the requests every time it waits");
    return S_OK;
}

HRESULT CFrameRingReader::ClearRequest() {
    RETURN_HR_IF(E_UNEXPECTED, m_place < 0);
    m_request = {};
    WriteRequest();
    QM_IGNORE(::SetEvent(m_readerChanged.get()), "the writer also reads the requests every time it waits");
    return S_OK;
}

HRESULT CFrameRingReader::Heartbeat() {
    RETURN_HR_IF(E_UNEXPECTED, !m_view.IsMapped());
    if (m_place >= 0) {
        ReaderEntry& entry = m_view.Header()->readers[m_place];
        if (entry.token.load(std::memory_order_acquire) == m_token) {
            entry.heartbeat.store(::GetTickCount(), std::memory_order_release);
            return S_OK;
        }
    }
    // Silent too long, the place went to another reader (or a broken
    // writer overwrote it): take one again.
    m_frameReady.reset();
    m_place = -1;
    m_token = 0;
    return TakePlace();
}

WaitResult CFrameRingReader::WaitForFrame(DWORD timeoutMs, HANDLE wake) {
    if (FAILED(Heartbeat())) {
        return WaitResult::Failed;
    }
    return Wait(m_frameReady.get(), wake, timeoutMs);
}

HRESULT CFrameRingReader::CopyLatest(BYTE* destination, size_t capacity, FrameInfo* info) {
    RETURN_HR_IF(E_POINTER, destination == nullptr || info == nullptr);
    RETURN_HR_IF(E_UNEXPECTED, !m_view.IsMapped());
    const RingHeader& header = *m_view.Header();
    RETURN_HR_IF(kInvalidData, !HasValidIdentity(header));
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const uint64_t latest = header.latest.load(std::memory_order_acquire);
        if (latest == 0) {
            return S_FALSE;
        }
        const uint32_t index = SlotOfLatest(latest);
        RETURN_HR_IF(kInvalidData, index >= kSlotCount);
        const SlotHeader& slot = *m_view.Slot(index);
        const uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            // Being written: the writer has lapped since it published it.
            continue;
        }
        // Every field once, into locals that the checks and the copy use.
        FrameDescription frame = {};
        frame.width = static_cast<int>(slot.width.load(std::memory_order_relaxed));
        frame.height = static_cast<int>(slot.height.load(std::memory_order_relaxed));
        const bool knownFormat = PixelFormatFromValue(slot.format.load(std::memory_order_relaxed), &frame.format);
        frame.time = slot.time.load(std::memory_order_relaxed);
        const uint32_t storedSize = slot.dataSize.load(std::memory_order_relaxed);
        const uint64_t frameNumber = slot.frameNumber.load(std::memory_order_relaxed);
        if (!Unchanged(slot, before)) {
            continue;
        }
        if (m_delivered && frameNumber == m_lastFrameNumber) {
            return S_FALSE;
        }
        uint32_t dataSize = 0;
        RETURN_HR_IF(kInvalidData, !knownFormat || !DataSizeOf(frame, &dataSize) || storedSize != dataSize);
        *info = {frame.width, frame.height, frame.format, dataSize, frame.time, frameNumber};
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), dataSize > capacity);
        std::memcpy(destination, m_view.SlotData(index), dataSize);
        if (!Unchanged(slot, before)) {
            continue;
        }
        m_delivered = true;
        m_lastFrameNumber = frameNumber;
        return S_OK;
    }
    return S_FALSE;
}

bool CFrameRingReader::IsWriterAlive() const {
    if (!m_view.IsMapped()) {
        return false;
    }
    const RingHeader& header = *m_view.Header();
    return header.writer.load(std::memory_order_acquire) != 0 &&
           !IsStale(header.writerHeartbeat.load(std::memory_order_acquire), ::GetTickCount());
}

// ---- Writer ---------------------------------------------------------------------------

CFrameRingWriter::~CFrameRingWriter() {
    Close();
}

void CFrameRingWriter::Close() {
    if (m_view.IsMapped()) {
        AbandonFrame();
        if (m_identity != 0) {
            uint64_t identity = m_identity;
            m_view.Header()->writer.compare_exchange_strong(identity, 0, std::memory_order_acq_rel);
        }
    }
    m_identity = 0;
    m_begun = false;
    for (UniqueHandle& event : m_frameReady) {
        event.reset();
    }
    m_readerChanged.reset();
    m_view = SectionView();
}

HRESULT CFrameRingWriter::Open(const RingAccess& access) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_UNEXPECTED, m_view.IsMapped());
    m_access = access;
    const HRESULT hr = OpenRing();
    if (FAILED(hr)) {
        Close();
    }
    return hr;
}

HRESULT CFrameRingWriter::Open(int camera, const wchar_t* prefix) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_UNEXPECTED, m_view.IsMapped());
    RingAccess access = {};
    RETURN_IF_FAILED(BuildRingAccessOfProcessUser(camera, prefix, &access));
    return Open(access);
}

HRESULT CFrameRingWriter::OpenRing() {
    const HRESULT opened = m_view.Open(m_access.frames);
    if (FAILED(opened)) {
        return opened;
    }
    RingHeader* const header = m_view.Header();
    RETURN_HR_IF(kInvalidData, !HasValidIdentity(*header));
    m_readerChanged.reset(::OpenEventW(SYNCHRONIZE, FALSE, m_access.readerChanged));
    RETURN_HR_IF(HResultFromLastError(), !m_readerChanged);
    const HRESULT claimed = ClaimRing();
    if (FAILED(claimed)) {
        return claimed;
    }
    // Numbers go on from the frame published last, whose slot stays alone.
    m_seenLatest = header->latest.load(std::memory_order_acquire);
    return S_OK;
}

HRESULT CFrameRingWriter::ClaimRing() {
    RingHeader* const header = m_view.Header();
    uint32_t token = header->nextWriterToken.fetch_add(1, std::memory_order_relaxed) + 1;
    if (token == 0) {
        token = header->nextWriterToken.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    const uint64_t self = PackWriter(::GetCurrentProcessId(), token);
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint64_t holder = header->writer.load(std::memory_order_acquire);
        // A holder that beats and runs keeps the ring; one that stopped
        // beating (or whose process id now names another program) or ended
        // gives it up. One that only stalled may wake and go on writing:
        // the slots' owners keep it out of this writer's frames.
        if (holder != 0 && !IsStale(header->writerHeartbeat.load(std::memory_order_acquire), ::GetTickCount()) &&
            ProcessRuns(ProcessOfWriter(holder))) {
            return kRingBusy;
        }
        if (header->writer.compare_exchange_strong(holder, self, std::memory_order_acq_rel)) {
            header->writerHeartbeat.store(::GetTickCount(), std::memory_order_release);
            m_identity = self;
            return S_OK;
        }
    }
    return kRingBusy;
}

bool CFrameRingWriter::HoldsRing() const {
    return m_view.Header()->writer.load(std::memory_order_acquire) == m_identity;
}

void CFrameRingWriter::Pause(PausePoint point) {
    if (m_pauseHook != nullptr) {
        m_pauseHook(point, m_pauseContext);
    }
}

HRESULT CFrameRingWriter::Request(FrameRequest* request) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF_NULL(E_POINTER, request);
    *request = {};
    RETURN_HR_IF(E_UNEXPECTED, !m_view.IsMapped());
    RingHeader& header = *m_view.Header();
    RETURN_HR_IF(kInvalidData, !HasValidIdentity(header));
    RETURN_HR_IF(kRingBusy, !HoldsRing());
    const uint32_t now = ::GetTickCount();
    header.writerHeartbeat.store(now, std::memory_order_release);
    bool found = false;
    uint32_t newest = 0;
    for (const ReaderEntry& entry : header.readers) {
        if (entry.token.load(std::memory_order_acquire) == 0 ||
            IsStale(entry.heartbeat.load(std::memory_order_acquire), now)) {
            continue;
        }
        RequestRead read = {};
        if (!ReadRequest(entry, &read) || !read.knownFormat || !IsValidRequest(read.request)) {
            continue;
        }
        if (!found || static_cast<int32_t>(read.serial - newest) > 0) {
            *request = read.request;
            newest = read.serial;
            found = true;
        }
    }
    return found ? S_OK : S_FALSE;
}

WaitResult CFrameRingWriter::WaitForReaderChange(DWORD timeoutMs, HANDLE wake) {
    QM_DCHECK_ON_THREAD(m_thread);
    if (!m_readerChanged) {
        return WaitResult::Failed;
    }
    return Wait(m_readerChanged.get(), wake, timeoutMs);
}

HRESULT CFrameRingWriter::BeginFrame(FrameSlot* slot) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF_NULL(E_POINTER, slot);
    RETURN_HR_IF(E_UNEXPECTED, !m_view.IsMapped());
    const bool holds = HoldsRing();
    if (!holds) {
        AbandonFrame();
    }
    RETURN_HR_IF(kRingBusy, !holds);
    // From here on the ring may be lost; the slot's owner keeps this
    // writer's rows out of any other writer's frames.
    Pause(PausePoint::AfterBeginCheck);
    if (!m_begun) {
        uint32_t index = 0;
        RETURN_IF_FAILED(ClaimSlot(&index));
        SlotHeader& header = *m_view.Slot(index);
        m_beginSequence = BeginSequence(header.sequence.load(std::memory_order_relaxed));
        header.sequence.store(m_beginSequence, std::memory_order_relaxed);
        // The odd sequence before any byte of the frame.
        std::atomic_thread_fence(std::memory_order_release);
        m_beginSlot = index;
        m_begun = true;
    }
    slot->data = m_view.SlotData(m_beginSlot);
    slot->capacity = kSlotCapacity;
    slot->frameNumber = FrameNumberOfLatest(m_seenLatest) + 1;
    return S_OK;
}

HRESULT CFrameRingWriter::ClaimSlot(uint32_t* index) {
    RingHeader& header = *m_view.Header();
    const uint64_t latest = header.latest.load(std::memory_order_acquire);
    for (uint32_t step = 1; step <= kSlotCount; ++step) {
        const uint32_t candidate = (SlotOfLatest(latest) + step) % kSlotCount;
        // Never the published slot: readers copy that one.
        if (IsPublished(latest, candidate)) {
            continue;
        }
        SlotHeader& slot = *m_view.Slot(candidate);
        uint64_t owner = slot.owner.load(std::memory_order_acquire);
        // Another writer's while its process runs, however long it has
        // been silent: it may still write into it. One whose process
        // ended is taken back (its frame stays odd, never published).
        if (owner != 0 && ProcessRuns(ProcessOfWriter(owner))) {
            continue;
        }
        if (!slot.owner.compare_exchange_strong(owner, m_identity, std::memory_order_acq_rel)) {
            continue;
        }
        // Its last owner publishes before it lets a slot go, so the slot
        // may have become the published one since `latest` was read.
        if (IsPublished(header.latest.load(std::memory_order_acquire), candidate)) {
            slot.owner.store(0, std::memory_order_release);
            continue;
        }
        *index = candidate;
        return S_OK;
    }
    // Every other slot is held by a writer that runs.
    return kRingBusy;
}

void CFrameRingWriter::AbandonFrame() {
    if (!m_begun) {
        return;
    }
    // Left odd: no reader returns it.
    uint64_t identity = m_identity;
    m_view.Slot(m_beginSlot)->owner.compare_exchange_strong(identity, 0, std::memory_order_acq_rel);
    m_begun = false;
}

HRESULT CFrameRingWriter::CommitFrame(const FrameDescription& frame) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_UNEXPECTED, !m_begun);
    uint32_t dataSize = 0;
    RETURN_HR_IF(E_INVALIDARG, !DataSizeOf(frame, &dataSize));
    const bool holds = HoldsRing();
    if (!holds) {
        AbandonFrame();
    }
    RETURN_HR_IF(kRingBusy, !holds);
    // From here on the ring may be lost; publishing from what this writer
    // saw last keeps a frame of a writer that lost it from going out over
    // the new writer's.
    Pause(PausePoint::AfterCommitCheck);
    RingHeader& header = *m_view.Header();
    SlotHeader& slot = *m_view.Slot(m_beginSlot);
    const uint64_t frameNumber = FrameNumberOfLatest(m_seenLatest) + 1;
    slot.width.store(static_cast<uint32_t>(frame.width), std::memory_order_relaxed);
    slot.height.store(static_cast<uint32_t>(frame.height), std::memory_order_relaxed);
    slot.format.store(static_cast<uint32_t>(frame.format), std::memory_order_relaxed);
    slot.reserved.store(0, std::memory_order_relaxed);
    slot.dataSize.store(dataSize, std::memory_order_relaxed);
    slot.frameNumber.store(frameNumber, std::memory_order_relaxed);
    slot.time.store(frame.time, std::memory_order_relaxed);
    // Even: committed, the data and fields above before it. Then published,
    // then let go (so that whoever takes the slot next sees it published).
    slot.sequence.store(m_beginSequence + 1, std::memory_order_release);
    uint64_t seen = m_seenLatest;
    const uint64_t published = PackLatest(frameNumber, m_beginSlot);
    const bool won = header.latest.compare_exchange_strong(seen, published, std::memory_order_acq_rel);
    uint64_t identity = m_identity;
    slot.owner.compare_exchange_strong(identity, 0, std::memory_order_acq_rel);
    m_begun = false;
    // After a failed publish, `seen` holds the latest as it is.
    m_seenLatest = won ? published : seen;
    RETURN_HR_IF(kRingBusy, !won);
    const uint32_t now = ::GetTickCount();
    if (HoldsRing()) {
        header.writerHeartbeat.store(now, std::memory_order_release);
    }
    SignalReaders(now);
    return S_OK;
}

void CFrameRingWriter::SignalReaders(uint32_t now) {
    const RingHeader& header = *m_view.Header();
    for (uint32_t place = 0; place < kMaxReaders; ++place) {
        const ReaderEntry& entry = header.readers[place];
        if (entry.token.load(std::memory_order_acquire) == 0 ||
            IsStale(entry.heartbeat.load(std::memory_order_acquire), now)) {
            continue;
        }
        // Opened once per place and kept: a later reader of the place
        // creates the same event while this handle keeps it.
        if (!m_frameReady[place]) {
            m_frameReady[place].reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, m_access.frameReady[place]));
        }
        if (m_frameReady[place]) {
            QM_IGNORE(::SetEvent(m_frameReady[place].get()), "a reader that misses a signal finds the frame later");
        }
    }
}
