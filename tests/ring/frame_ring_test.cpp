// The shared-memory frame ring between the capturing program (writer) and
// the Media Foundation camera's sources (readers): frames and requests
// through real sections and events, several readers, readers that stop
// beating, headers and slots that a broken writer overwrote, the names and
// security descriptor of the real objects, and a writer in another process
// that is killed in the middle of a frame.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ring/frame_ring.h"
#include "settings/frame_time.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"
#include "tests/ring/frame_ring_test_support.h"

using namespace frame_ring;
using namespace qmtest;

namespace {

const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Object names of this process and test only: Local\ and a suffix.
std::wstring UniquePrefix() {
    static int counter = 0;
    return L"Local\\QMTest." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(++counter) + L".";
}

// The SID of this process's user, as text, found apart from the ring's own
// code.
HRESULT ProcessUserSidText(std::wstring* text) {
    HANDLE token = nullptr;
    RETURN_HR_IF(HResultFromLastError(), !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    const UniqueHandle tokenOwner(token);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    RETURN_HR_IF(HResultFromLastError(), !::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size));
    wchar_t* sid = nullptr;
    RETURN_HR_IF(HResultFromLastError(),
                 !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid));
    *text = sid;
    ::LocalFree(sid);
    return S_OK;
}

// A DACL that allows SYSTEM and LOCAL SERVICE everything and the user
// `userSid` reading, writing and waiting, and nobody else anything.
void ExpectOnlyTheUserLocalServiceAndSystem(PACL dacl, const std::wstring& userSid) {
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(3, dacl->AceCount);
    PSID user = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(userSid.c_str(), &user));
    const UniqueResource<LocalMemoryTraits> userOwner(user);
    BYTE system[SECURITY_MAX_SID_SIZE] = {};
    BYTE localService[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(system);
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    size = sizeof(localService);
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalServiceSid, nullptr, localService, &size));
    const PSID expected[] = {system, localService, user};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), expected[i])) << "ACE " << i;
        if (i == 2) {
            // Generic rights, or the section rights they stand for once
            // mapped: mapping for writing, never the descriptor's owner.
            EXPECT_NE(0u, allowed->Mask & (GENERIC_WRITE | SECTION_MAP_WRITE));
            EXPECT_EQ(0u, allowed->Mask & (GENERIC_ALL | WRITE_DAC | WRITE_OWNER | DELETE));
        }
    }
}

const FrameSize kSmallest = FrameSizeTable[0];
const FrameSize kLargest = FrameSizeTable[kFrameSizeTableCount - 1];

FrameRequest Nv12Request(FrameSize size = kSmallest) {
    return {size.width, size.height, PixelFormat::Nv12, kMinFrameTime};
}

BYTE PatternByte(size_t row, size_t column) {
    return static_cast<BYTE>(row * 7 + column * 13 + 1);
}

// Commits one frame whose bytes follow PatternByte, as rows of the width
// of its first plane.
HRESULT WritePatternFrame(CFrameRingWriter* writer, const FrameDescription& frame, uint64_t* frameNumber) {
    FrameSlot slot = {};
    RETURN_IF_FAILED(writer->BeginFrame(&slot));
    uint32_t dataSize = 0;
    RETURN_HR_IF(E_INVALIDARG, !DataSizeOf(frame, &dataSize));
    const size_t stride = static_cast<size_t>(LayoutOf(frame.format, frame.width, frame.height).strides[0]);
    for (size_t i = 0; i < dataSize; ++i) {
        slot.data[i] = PatternByte(i / stride, i % stride);
    }
    *frameNumber = slot.frameNumber;
    return writer->CommitFrame(frame);
}

// Commits one frame whose every byte is FrameByte of its number.
HRESULT WriteUniformFrame(CFrameRingWriter* writer, const FrameDescription& frame) {
    FrameSlot slot = {};
    RETURN_IF_FAILED(writer->BeginFrame(&slot));
    uint32_t dataSize = 0;
    RETURN_HR_IF(E_INVALIDARG, !DataSizeOf(frame, &dataSize));
    std::memset(slot.data, FrameByte(slot.frameNumber), dataSize);
    return writer->CommitFrame(frame);
}

// A reader and a writer on a ring of their own, and a view of its
// section as anyone who opens it sees it.
struct Ring {
    std::wstring prefix = UniquePrefix();
    CFrameRingReader reader;
    CFrameRingWriter writer;
    SectionView memory;

    HRESULT Init() {
        RETURN_IF_FAILED(reader.Create(1, prefix.c_str()));
        RETURN_IF_FAILED(writer.Open(1, prefix.c_str()));
        RingAccess access = {};
        RETURN_IF_FAILED(BuildRingAccessOfProcessUser(1, prefix.c_str(), &access));
        return memory.Open(access.frames);
    }
    RingHeader& Header() { return *memory.Header(); }
    SlotHeader& LatestSlot() { return *memory.Slot(static_cast<uint32_t>(Header().latest.load() & 0xFF)); }
};

// The frame ring's writer program, started from beside the test program;
// killed on destruction if it still runs.
class WriterProcess {
public:
    ~WriterProcess() { Kill(); }

    HRESULT Start(const std::wstring& prefix, const std::string& arguments) {
        wchar_t path[MAX_PATH] = {};
        RETURN_HR_IF(HResultFromLastError(), ::GetModuleFileNameW(nullptr, path, MAX_PATH) == 0);
        std::wstring program(path);
        program.erase(program.find_last_of(L'\\') + 1);
        program += kRingWriterProgram;
        std::wstring commandLine = L"\"" + program + L"\" " + prefix + L" 1 " + std::wstring(arguments.begin(), arguments.end());
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        RETURN_HR_IF(HResultFromLastError(), !::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                                                CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
        ::CloseHandle(info.hThread);
        m_process.reset(info.hProcess);
        return S_OK;
    }
    bool HasExited() const { return ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0; }
    DWORD ExitCode(DWORD timeoutMs) const {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(m_process.get(), timeoutMs) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(m_process.get(), &code);
        }
        return code;
    }
    void Kill() {
        if (m_process && !HasExited()) {
            ::TerminateProcess(m_process.get(), 9);
            ::WaitForSingleObject(m_process.get(), INFINITE);
        }
    }

private:
    UniqueHandle m_process;
};

// What a reader saw of a writer's uniform frames.
struct ReadCount {
    int frames = 0;
    int torn = 0;
    uint64_t last = 0;
};

// Copies every new frame into `buffer` and checks it, until `done` says
// so or `timeoutMs` passes.
template <typename Done>
ReadCount ReadUniformFrames(CFrameRingReader* reader, std::vector<BYTE>* buffer, DWORD timeoutMs, Done done) {
    ReadCount count;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!done(count) && ::GetTickCount64() < deadline) {
        QM_IGNORE(reader->WaitForFrame(20, nullptr), "a frame may be waiting from before");
        FrameInfo info = {};
        while (reader->CopyLatest(buffer->data(), buffer->size(), &info) == S_OK) {
            ++count.frames;
            if (!IsUniform(buffer->data(), info.dataSize, FrameByte(info.frameNumber)) || info.frameNumber <= count.last) {
                ++count.torn;
            }
            count.last = info.frameNumber;
        }
    }
    return count;
}

}  // namespace

TEST(FrameRingTest, TheSectionHoldsTheLargestFrameOfEveryTableSizeInEveryFormat) {
    static_assert(kSlotCapacity == LayoutOf(PixelFormat::Rgb32, 1920, 1080).imageBytes,
                  "RGB32 at the largest size is the largest frame");
    for (const FrameSize& size : FrameSizeTable) {
        for (const PixelFormat format : kPixelFormats) {
            uint32_t dataSize = 0;
            const FrameDescription frame = {size.width, size.height, format, 0};
            EXPECT_TRUE(DataSizeOf(frame, &dataSize)) << size.width << "x" << size.height << " " << NameOf(format);
            EXPECT_EQ(LayoutOf(format, size.width, size.height).imageBytes, dataSize);
        }
    }
    EXPECT_EQ(kHeaderBytes + kSlotCount * kSlotStride, kSectionBytes);
}

// Each format at the smallest and the largest size of the table.
class FrameRingFormatTest : public testing::TestWithParam<PixelFormat> {};

TEST_P(FrameRingFormatTest, FramesGoFromWriterToReaderWithTheirSizeFormatAndTime) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    std::vector<BYTE> buffer(kSlotCapacity + 4096);
    for (const FrameSize& size : {kLargest, kSmallest}) {
        const FrameRequest request = {size.width, size.height, GetParam(), kMinFrameTime};
        ASSERT_EQ(S_OK, ring.reader.SetRequest(request));
        FrameRequest served = {};
        ASSERT_EQ(S_OK, ring.writer.Request(&served));
        EXPECT_EQ(GetParam(), served.format);
        const FrameDescription frame = FrameFor(request);
        uint64_t frameNumber = 0;
        ASSERT_EQ(S_OK, WritePatternFrame(&ring.writer, frame, &frameNumber));
        const FrameLayout layout = LayoutOf(GetParam(), size.width, size.height);
        FrameInfo info = {};
        ASSERT_EQ(S_OK, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
        EXPECT_EQ(size.width, info.width);
        EXPECT_EQ(size.height, info.height);
        EXPECT_EQ(GetParam(), info.format);
        EXPECT_EQ(layout.imageBytes, info.dataSize);
        EXPECT_EQ(frame.time, info.time);
        EXPECT_EQ(frameNumber, info.frameNumber);
        const size_t stride = static_cast<size_t>(layout.strides[0]);
        for (size_t i = 0; i < layout.imageBytes; ++i) {
            ASSERT_EQ(PatternByte(i / stride, i % stride), buffer[i])
                << "byte " << i << " of " << size.width << "x" << size.height;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FrameRingFormatTest, testing::ValuesIn(kPixelFormats),
                         [](const testing::TestParamInfo<PixelFormat>& param) { return NameOf(param.param); });

TEST(FrameRingTest, AReaderGetsEachFrameOnceAndNothingBeforeTheFirst) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    std::vector<BYTE> buffer(kSlotCapacity);
    FrameInfo info = {};
    EXPECT_EQ(S_FALSE, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
    EXPECT_TRUE(ring.reader.IsWriterAlive()) << "an open writer has beaten";
    const FrameDescription frame = FrameFor(Nv12Request());
    for (uint64_t expected = 1; expected <= 7; ++expected) {
        ASSERT_EQ(S_OK, WriteUniformFrame(&ring.writer, frame));
        ASSERT_EQ(S_OK, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
        EXPECT_EQ(expected, info.frameNumber);
        EXPECT_TRUE(IsUniform(buffer.data(), info.dataSize, FrameByte(expected)));
        EXPECT_EQ(S_FALSE, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
    }
    // A destination too small for the frame: told so, with what it is.
    EXPECT_EQ(S_OK, WriteUniformFrame(&ring.writer, frame));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), ring.reader.CopyLatest(buffer.data(), 100, &info));
    EXPECT_EQ(kSmallest.width, info.width);
}

TEST(FrameRingTest, TheReadersRequestReachesTheWriter) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    FrameRequest request = {};
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request)) << "a new reader asks for nothing";
    QM_IGNORE(ring.writer.WaitForReaderChange(0, nullptr), "the reader's arrival");

    const FrameRequest wanted = {kLargest.width, kLargest.height, PixelFormat::Rgb32, kMaxFrameTime};
    ASSERT_EQ(S_OK, ring.reader.SetRequest(wanted));
    EXPECT_EQ(WaitResult::Signalled, ring.writer.WaitForReaderChange(0, nullptr));
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    EXPECT_EQ(wanted.width, request.width);
    EXPECT_EQ(wanted.height, request.height);
    EXPECT_EQ(wanted.format, request.format);
    EXPECT_EQ(wanted.frameTime, request.frameTime);

    ASSERT_EQ(S_OK, ring.reader.ClearRequest());
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));
    EXPECT_EQ(0, request.width);

    // Requests the writer could not serve are refused at once.
    for (const FrameRequest& bad : {FrameRequest{123, 77, PixelFormat::Nv12, kMinFrameTime},
                                    FrameRequest{kSmallest.width, kSmallest.height, PixelFormat{}, kMinFrameTime},
                                    FrameRequest{kSmallest.width, kSmallest.height, static_cast<PixelFormat>(9),
                                                 kMinFrameTime},
                                    FrameRequest{kSmallest.width, kSmallest.height, PixelFormat::Nv12, 0},
                                    FrameRequest{kSmallest.width, kSmallest.height, PixelFormat::Nv12, kMaxFrameTime + 1}}) {
        EXPECT_EQ(E_INVALIDARG, ring.reader.SetRequest(bad)) << bad.width << "x" << bad.height;
    }
}

TEST(FrameRingTest, TheWriterIgnoresRequestsItCannotServe) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    ASSERT_EQ(S_OK, ring.reader.SetRequest(Nv12Request()));
    FrameRequest request = {};
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    ReaderEntry& entry = ring.Header().readers[ring.reader.ReaderPlaceForTesting()];
    // What a broken reader could leave: a size not in the table, an
    // unknown format, a frame time out of range, a request half written.
    entry.width.store(123);
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));
    entry.width.store(static_cast<uint32_t>(kSmallest.width));
    entry.format.store(9);
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));
    entry.format.store(static_cast<uint32_t>(PixelFormat::Nv12));
    entry.frameTime.store(-1);
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));
    entry.frameTime.store(kMinFrameTime);
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    entry.requestSequence.fetch_add(1);
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));
}

TEST(FrameRingTest, SeveralReadersEachGetTheFramesAndTheNewestRequestWins) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    CFrameRingReader second;
    CFrameRingReader third;
    ASSERT_EQ(S_OK, second.Create(1, ring.prefix.c_str()));
    ASSERT_EQ(S_OK, third.Create(1, ring.prefix.c_str()));
    EXPECT_NE(ring.reader.ReaderPlaceForTesting(), second.ReaderPlaceForTesting());
    EXPECT_NE(second.ReaderPlaceForTesting(), third.ReaderPlaceForTesting());

    const FrameRequest small = Nv12Request(kSmallest);
    const FrameRequest large = Nv12Request(kLargest);
    ASSERT_EQ(S_OK, ring.reader.SetRequest(small));
    ASSERT_EQ(S_OK, second.SetRequest(large));
    FrameRequest request = {};
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    EXPECT_EQ(large.width, request.width);
    ASSERT_EQ(S_OK, ring.reader.SetRequest(small));
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    EXPECT_EQ(small.width, request.width);

    ASSERT_EQ(S_OK, WriteUniformFrame(&ring.writer, FrameFor(request)));
    std::vector<BYTE> buffer(kSlotCapacity);
    for (CFrameRingReader* reader : {&ring.reader, &second, &third}) {
        EXPECT_EQ(WaitResult::Signalled, reader->WaitForFrame(5000, nullptr)) << "place " << reader->ReaderPlaceForTesting();
        FrameInfo info = {};
        ASSERT_EQ(S_OK, reader->CopyLatest(buffer.data(), buffer.size(), &info));
        EXPECT_EQ(1u, info.frameNumber);
    }

    // Every place taken: one reader more is refused until one leaves.
    std::vector<std::unique_ptr<CFrameRingReader>> more;
    for (uint32_t i = 3; i < kMaxReaders; ++i) {
        more.push_back(std::make_unique<CFrameRingReader>());
        ASSERT_EQ(S_OK, more.back()->Create(1, ring.prefix.c_str()));
    }
    CFrameRingReader oneTooMany;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), oneTooMany.Create(1, ring.prefix.c_str()));
    more.pop_back();
    CFrameRingReader late;
    EXPECT_EQ(S_OK, late.Create(1, ring.prefix.c_str()));
}

TEST(FrameRingTest, AReaderThatStopsBeatingReadsAsNoReader) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    ASSERT_EQ(S_OK, ring.reader.SetRequest(Nv12Request()));
    FrameRequest request = {};
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    ReaderEntry& entry = ring.Header().readers[ring.reader.ReaderPlaceForTesting()];
    entry.heartbeat.store(::GetTickCount() - 2 * kStaleAfterMs);
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request));

    // Its beat brings it back.
    ASSERT_EQ(S_OK, ring.reader.Heartbeat());
    EXPECT_EQ(S_OK, ring.writer.Request(&request));

    // Silent again, its place goes to a newcomer; its next beat takes
    // another place and asks again.
    entry.heartbeat.store(::GetTickCount() - 2 * kStaleAfterMs);
    const int oldPlace = ring.reader.ReaderPlaceForTesting();
    CFrameRingReader newcomer;
    ASSERT_EQ(S_OK, newcomer.Create(1, ring.prefix.c_str()));
    EXPECT_EQ(oldPlace, newcomer.ReaderPlaceForTesting());
    EXPECT_EQ(S_FALSE, ring.writer.Request(&request)) << "the newcomer asks for nothing";
    ASSERT_EQ(S_OK, ring.reader.Heartbeat());
    EXPECT_NE(oldPlace, ring.reader.ReaderPlaceForTesting());
    ASSERT_EQ(S_OK, ring.writer.Request(&request));
    EXPECT_EQ(kSmallest.width, request.width);
}

TEST(FrameRingTest, ACorruptHeaderOrSlotGivesNoFrame) {
    struct Corruption {
        const char* what;
        void (*apply)(Ring& ring);
    };
    const Corruption corruptions[] = {
        {"bad magic", [](Ring& r) { r.Header().magic.store(0xDEADBEEF); }},
        {"other layout version", [](Ring& r) { r.Header().version.store(kLayoutVersion + 1); }},
        {"other slot capacity", [](Ring& r) { r.Header().slotCapacity.store(1u << 30); }},
        {"slot index out of range", [](Ring& r) { r.Header().latest.store((1u << 8) | kSlotCount); }},
        {"slot index far out of range", [](Ring& r) { r.Header().latest.store((1u << 8) | 0xFF); }},
        {"width not in the table", [](Ring& r) { r.LatestSlot().width.store(1000); }},
        {"height not in the table", [](Ring& r) { r.LatestSlot().height.store(0xFFFFFFFF); }},
        {"unknown format", [](Ring& r) { r.LatestSlot().format.store(9); }},
        {"no format", [](Ring& r) { r.LatestSlot().format.store(0); }},
        {"another format of the same size",
         [](Ring& r) { r.LatestSlot().format.store(static_cast<uint32_t>(PixelFormat::Yuy2)); }},
        {"data size beyond the capacity",
         [](Ring& r) { r.LatestSlot().dataSize.store(static_cast<uint32_t>(kSlotCapacity) + 1); }},
        {"data size not that of the frame", [](Ring& r) { r.LatestSlot().dataSize.fetch_sub(1); }},
    };
    for (const Corruption& corruption : corruptions) {
        Ring ring;
        ASSERT_EQ(S_OK, ring.Init());
        ASSERT_EQ(S_OK, WriteUniformFrame(&ring.writer, FrameFor(Nv12Request())));
        const SlotHeader& slot = ring.LatestSlot();
        const uint32_t sequence = slot.sequence.load();
        corruption.apply(ring);
        std::vector<BYTE> buffer(kSlotCapacity, 0xEE);
        FrameInfo info = {};
        EXPECT_EQ(kInvalidData, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info)) << corruption.what;
        EXPECT_TRUE(IsUniform(buffer.data(), buffer.size(), 0xEE)) << corruption.what << ": bytes were copied";
        EXPECT_EQ(sequence, slot.sequence.load()) << corruption.what << ": the frame itself stayed committed";
    }
    // A broken header stops the writer too.
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    ring.Header().magic.store(0);
    FrameRequest request = {};
    EXPECT_EQ(kInvalidData, ring.writer.Request(&request));
}

TEST(FrameRingTest, APublishedSlotLeftOddIsSkipped) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    ASSERT_EQ(S_OK, WriteUniformFrame(&ring.writer, FrameFor(Nv12Request())));
    ring.LatestSlot().sequence.fetch_add(1);
    std::vector<BYTE> buffer(kSlotCapacity, 0xEE);
    FrameInfo info = {};
    EXPECT_EQ(S_FALSE, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
    EXPECT_TRUE(IsUniform(buffer.data(), buffer.size(), 0xEE));
}

TEST(FrameRingTest, TheWriterCommitsOnlyFramesThatFit) {
    Ring ring;
    ASSERT_EQ(S_OK, ring.Init());
    const FrameDescription good = FrameFor(Nv12Request());
    EXPECT_EQ(E_UNEXPECTED, ring.writer.CommitFrame(good)) << "nothing begun";
    FrameSlot slot = {};
    ASSERT_EQ(S_OK, ring.writer.BeginFrame(&slot));
    EXPECT_EQ(kSlotCapacity, slot.capacity);
    EXPECT_EQ(1u, slot.frameNumber);
    FrameDescription bad = good;
    bad.width = 100;
    EXPECT_EQ(E_INVALIDARG, ring.writer.CommitFrame(bad));
    bad = good;
    bad.format = PixelFormat{};
    EXPECT_EQ(E_INVALIDARG, ring.writer.CommitFrame(bad));
    bad.format = static_cast<PixelFormat>(9);
    EXPECT_EQ(E_INVALIDARG, ring.writer.CommitFrame(bad));
    std::vector<BYTE> buffer(kSlotCapacity);
    FrameInfo info = {};
    EXPECT_EQ(S_FALSE, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info)) << "nothing published";
    // The begun frame is still there to commit.
    FrameSlot again = {};
    ASSERT_EQ(S_OK, ring.writer.BeginFrame(&again));
    EXPECT_EQ(slot.data, again.data);
    ASSERT_EQ(S_OK, ring.writer.CommitFrame(good));
    EXPECT_EQ(S_OK, ring.reader.CopyLatest(buffer.data(), buffer.size(), &info));
}

TEST(FrameRingTest, AWriterNeedsAReaderAndHasTheRingToItself) {
    const std::wstring prefix = UniquePrefix();
    CFrameRingWriter early;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), early.Open(1, prefix.c_str()));
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(1, prefix.c_str()));
    EXPECT_FALSE(reader.IsWriterAlive());
    auto first = std::make_unique<CFrameRingWriter>();
    ASSERT_EQ(S_OK, first->Open(1, prefix.c_str()));
    EXPECT_TRUE(reader.IsWriterAlive());
    CFrameRingWriter second;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), second.Open(1, prefix.c_str()));
    first.reset();
    EXPECT_FALSE(reader.IsWriterAlive());
    EXPECT_EQ(S_OK, second.Open(1, prefix.c_str()));

    for (const int camera : {0, kMaxCamera + 1}) {
        CFrameRingReader badReader;
        EXPECT_EQ(E_INVALIDARG, badReader.Create(camera, prefix.c_str()));
        CFrameRingWriter badWriter;
        EXPECT_EQ(E_INVALIDARG, badWriter.Open(camera, prefix.c_str()));
    }
}

TEST(FrameRingTest, TheRealObjectsAreGlobalNamedForTheUserAndGrantedToItAlone) {
    // The ring of this process's user: its SID in every name, and only
    // that user, LOCAL SERVICE and SYSTEM in the descriptor (no other
    // interactive user, nor everyone).
    std::wstring user;
    ASSERT_EQ(S_OK, ProcessUserSidText(&user));
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(kMaxCamera));
    const std::wstring stem = L"Global\\QMCapture." + user + L".Camera8.";
    const UniqueHandle section(::OpenFileMappingW(READ_CONTROL, FALSE, (stem + L"Frames").c_str()));
    ASSERT_TRUE(section) << ::GetLastError();
    const UniqueHandle readerChanged(::OpenEventW(SYNCHRONIZE, FALSE, (stem + L"ReaderChanged").c_str()));
    EXPECT_TRUE(readerChanged);
    const UniqueHandle frameReady(::OpenEventW(
        SYNCHRONIZE, FALSE, (stem + L"FrameReady" + std::to_wstring(reader.ReaderPlaceForTesting())).c_str()));
    EXPECT_TRUE(frameReady);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetSecurityInfo(section.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor));
    const UniqueResource<LocalMemoryTraits> descriptorOwner(descriptor);
    ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheUserLocalServiceAndSystem(dacl, user));
}

TEST(FrameRingTest, TwoUsersRingsHaveNamesOfTheirOwnAndEachIsGrantedToItsUserAlone) {
    // What the media source builds for the camera of each of two users
    // signed in at once (only Windows can run the two; the names and the
    // descriptors are what keeps them apart).
    const wchar_t* const users[] = {L"S-1-5-21-1004336348-1177238915-682003330-1001",
                                    L"S-1-5-21-1004336348-1177238915-682003330-1002"};
    RingAccess rings[2] = {};
    for (int i = 0; i < 2; ++i) {
        OwnerSid owner = {};
        ASSERT_EQ(S_OK, ParseOwnerSid(users[i], &owner));
        ASSERT_EQ(S_OK, BuildRingAccess(3, kGlobalPrefix, owner, &rings[i]));
        const std::wstring stem = std::wstring(L"Global\\QMCapture.") + users[i] + L".Camera3.";
        EXPECT_EQ(stem + L"Frames", rings[i].frames);
        EXPECT_EQ(stem + L"ReaderChanged", rings[i].readerChanged);
        EXPECT_EQ(stem + L"FrameReady0", rings[i].frameReady[0]);
        EXPECT_EQ(stem + L"FrameReady7", rings[i].frameReady[kMaxReaders - 1]);

        BOOL present = FALSE;
        BOOL defaulted = TRUE;
        PACL dacl = nullptr;
        ASSERT_TRUE(::IsValidSecurityDescriptor(rings[i].descriptor));
        ASSERT_TRUE(::GetSecurityDescriptorDacl(rings[i].descriptor, &present, &dacl, &defaulted));
        EXPECT_TRUE(present);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(rings[i].descriptor, &control, &revision));
        EXPECT_NE(0, control & SE_DACL_PROTECTED) << "nothing inherited from the namespace";
        ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheUserLocalServiceAndSystem(dacl, users[i]));
    }
    EXPECT_STRNE(rings[0].frames, rings[1].frames);

    // Only SIDs name an owner; names and prefixes that do not fit are
    // refused.
    OwnerSid owner = {};
    for (const wchar_t* notAUser : {L"Everyone", L"", L"WD", L"S-1-1-0", L"S-1-5-4", L"S-1-5-11", L"S-1-5-32-545",
                                    L"S-1-5-19", L"S-1-5-18"}) {
        EXPECT_EQ(E_INVALIDARG, ParseOwnerSid(notAUser, &owner)) << notAUser;
    }
    ASSERT_EQ(S_OK, ParseOwnerSid(L"s-1-12-1-1-2-3-4", &owner)) << "an Azure AD account";
    EXPECT_STREQ(L"S-1-12-1-1-2-3-4", owner.text);
    ASSERT_EQ(S_OK, ParseOwnerSid(users[0], &owner));
    RingAccess ring = {};
    EXPECT_EQ(E_INVALIDARG, BuildRingAccess(0, kGlobalPrefix, owner, &ring));
    EXPECT_EQ(E_INVALIDARG, BuildRingAccess(1, std::wstring(kMaxPrefixLength + 1, L'x').c_str(), owner, &ring));
    EXPECT_EQ(E_INVALIDARG, BuildRingAccess(1, nullptr, owner, &ring));
    EXPECT_EQ(0, ring.camera) << "a refused ring writes nothing";
}

// ---- Two writers: one stalls past the stale limit, the other takes over ----

namespace {

// Where the first writer stalls, long enough (more than kStaleAfterMs) for
// a second writer to take the ring over.
enum class Stall {
    // Half of its frame's rows written.
    MidFrame,
    // In BeginFrame, after it found that it holds the ring.
    AfterBeginCheck,
    // In CommitFrame, after it found that it holds the ring, every row
    // written.
    AfterCommitCheck,
};

const char* StallName(Stall stall) {
    switch (stall) {
    case Stall::MidFrame:
        return "MidFrame";
    case Stall::AfterBeginCheck:
        return "AfterBeginCheck";
    case Stall::AfterCommitCheck:
        return "AfterCommitCheck";
    }
    return "?";
}

// Row r of frame n of a writer is all RowByte(writer, n, r); neighbouring
// rows differ, and the two writers' rows differ in length (RGB32 and
// RGB24), so that a frame made of both writers' rows, or of one writer's
// description over the other's rows, fails WriterOfFrame.
constexpr BYTE kStallingWriter = 0x55;
constexpr BYTE kTakingWriter = 0xAA;

BYTE RowByte(BYTE writer, uint64_t frameNumber, uint32_t row) {
    return static_cast<BYTE>(writer ^ static_cast<BYTE>(frameNumber * 29) ^ static_cast<BYTE>(row * 7));
}

FrameDescription WriterFrame(BYTE writer) {
    return FrameFor({kSmallest.width, kSmallest.height,
                     writer == kStallingWriter ? PixelFormat::Rgb32 : PixelFormat::Rgb24, kMinFrameTime});
}

size_t RowBytesOf(PixelFormat format) {
    return static_cast<size_t>(LayoutOf(format, kSmallest.width, kSmallest.height).strides[0]);
}

void FillRows(const FrameSlot& slot, BYTE writer, uint32_t firstRow, uint32_t endRow) {
    const size_t rowBytes = RowBytesOf(WriterFrame(writer).format);
    for (uint32_t row = firstRow; row < endRow; ++row) {
        std::memset(slot.data + row * rowBytes, RowByte(writer, slot.frameNumber, row), rowBytes);
    }
}

// The writer whose rows a copied frame holds, all of them its rows of
// that frame; 0 when it holds anything else.
BYTE WriterOfFrame(const BYTE* data, const FrameInfo& info) {
    const BYTE writer = static_cast<BYTE>(data[0] ^ RowByte(0, info.frameNumber, 0));
    if (writer != kStallingWriter && writer != kTakingWriter) {
        return 0;
    }
    if (info.format != WriterFrame(writer).format) {
        return 0;
    }
    const size_t rowBytes = RowBytesOf(info.format);
    for (uint32_t row = 0; row < static_cast<uint32_t>(info.height); ++row) {
        if (!IsUniform(data + row * rowBytes, rowBytes, RowByte(writer, info.frameNumber, row))) {
            return 0;
        }
    }
    return writer;
}

class FrameRingTakeOverTest : public testing::TestWithParam<Stall> {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, ring.Init()); }

    // What a reader copies now, if anything: one writer's whole frame, a
    // number above the last, and never the stalled writer's once the
    // taking writer's came.
    void Read(const char* when) {
        FrameInfo info = {};
        const HRESULT copied = ring.reader.CopyLatest(buffer.data(), buffer.size(), &info);
        ASSERT_TRUE(copied == S_OK || copied == S_FALSE) << when << ": 0x" << std::hex << copied;
        if (copied != S_OK) {
            return;
        }
        ++framesRead;
        const BYTE writer = WriterOfFrame(buffer.data(), info);
        EXPECT_NE(0, writer) << when << ": frame " << info.frameNumber << " is not one writer's whole frame";
        EXPECT_GT(info.frameNumber, lastNumber) << when;
        if (takerRead) {
            EXPECT_NE(kStallingWriter, writer) << when << ": the writer that lost the ring published over the new one";
        }
        takerRead = takerRead || writer == kTakingWriter;
        lastNumber = info.frameNumber;
    }

    // One whole frame of `writer`, committed; then read.
    void WriteFrame(CFrameRingWriter& writer, BYTE tag) {
        FrameSlot slot = {};
        ASSERT_EQ(S_OK, writer.BeginFrame(&slot));
        FillRows(slot, tag, 0, static_cast<uint32_t>(kSmallest.height));
        ASSERT_EQ(S_OK, writer.CommitFrame(WriterFrame(tag)));
        Read("after a whole frame");
    }

    // The stalled writer has not beaten for longer than the stale limit
    // (what its stall looks like to the others; no need to wait that
    // long): the taking writer claims the ring and commits `frames`
    // frames, enough to go round the ring's slots.
    void TakeOver(int frames) {
        ring.Header().writerHeartbeat.store(::GetTickCount() - 2 * kStaleAfterMs);
        ASSERT_EQ(S_OK, taker.Open(1, ring.prefix.c_str())) << "the stalled writer's ring is taken over";
        for (int i = 0; i < frames; ++i) {
            WriteFrame(taker, kTakingWriter);
        }
    }

    static void TakeOverWhilePaused(CFrameRingWriter::PausePoint, void* context) {
        static_cast<FrameRingTakeOverTest*>(context)->TakeOver(static_cast<int>(kSlotCount));
    }

    Ring ring;  // its writer is the one that stalls
    CFrameRingWriter taker;
    std::vector<BYTE> buffer = std::vector<BYTE>(kSlotCapacity);
    int framesRead = 0;
    uint64_t lastNumber = 0;
    bool takerRead = false;
};

}  // namespace

TEST_P(FrameRingTakeOverTest, AReaderGetsOnlyWholeFramesOfOneWriterAndTheStalledWriterCannotPublish) {
    const uint32_t rows = static_cast<uint32_t>(kSmallest.height);
    ASSERT_NO_FATAL_FAILURE(WriteFrame(ring.writer, kStallingWriter));
    FrameSlot slot = {};
    HRESULT committed = E_FAIL;
    switch (GetParam()) {
    case Stall::MidFrame:
        ASSERT_EQ(S_OK, ring.writer.BeginFrame(&slot));
        FillRows(slot, kStallingWriter, 0, rows / 2);
        ASSERT_NO_FATAL_FAILURE(TakeOver(static_cast<int>(kSlotCount)));
        // It wakes, writes its other rows straight into its slot's memory
        // and commits.
        FillRows(slot, kStallingWriter, rows / 2, rows);
        Read("after the stalled writer's last rows");
        committed = ring.writer.CommitFrame(WriterFrame(kStallingWriter));
        break;
    case Stall::AfterBeginCheck:
        ring.writer.SetPauseHookForTesting(&TakeOverWhilePaused, this);
        committed = ring.writer.BeginFrame(&slot);
        ring.writer.SetPauseHookForTesting(nullptr, nullptr);
        if (committed == S_OK) {
            FillRows(slot, kStallingWriter, 0, rows / 2);
            for (uint32_t i = 0; i < kSlotCount; ++i) {
                ASSERT_NO_FATAL_FAILURE(WriteFrame(taker, kTakingWriter));
            }
            FillRows(slot, kStallingWriter, rows / 2, rows);
            Read("after the stalled writer's last rows");
            committed = ring.writer.CommitFrame(WriterFrame(kStallingWriter));
        }
        break;
    case Stall::AfterCommitCheck:
        ASSERT_EQ(S_OK, ring.writer.BeginFrame(&slot));
        FillRows(slot, kStallingWriter, 0, rows);
        ring.writer.SetPauseHookForTesting(&TakeOverWhilePaused, this);
        committed = ring.writer.CommitFrame(WriterFrame(kStallingWriter));
        ring.writer.SetPauseHookForTesting(nullptr, nullptr);
        break;
    }
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), committed) << "the stalled writer is told that it lost the ring";
    Read("after the stalled writer's commit");
    // The taking writer goes on, through every slot.
    for (uint32_t i = 0; i < 2 * kSlotCount; ++i) {
        ASSERT_NO_FATAL_FAILURE(WriteFrame(taker, kTakingWriter));
    }
    EXPECT_TRUE(takerRead);
    EXPECT_GE(framesRead, static_cast<int>(3 * kSlotCount));
}

INSTANTIATE_TEST_SUITE_P(WhereTheFirstWriterStalls, FrameRingTakeOverTest,
                         testing::Values(Stall::MidFrame, Stall::AfterBeginCheck, Stall::AfterCommitCheck),
                         [](const testing::TestParamInfo<Stall>& param) { return std::string(StallName(param.param)); });

TEST(FrameRingProcessTest, AWriterInAnotherProcessDeliversTheRequestedFrames) {
    const std::wstring prefix = UniquePrefix();
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(1, prefix.c_str()));
    const FrameRequest request = {FrameSizeTable[1].width, FrameSizeTable[1].height, PixelFormat::Rgb32, kMinFrameTime};
    ASSERT_EQ(S_OK, reader.SetRequest(request));
    WriterProcess writer;
    ASSERT_EQ(S_OK, writer.Start(prefix, "frames 20"));
    std::vector<BYTE> buffer(kSlotCapacity);
    const ReadCount count = ReadUniformFrames(&reader, &buffer, 30000, [](const ReadCount& c) { return c.last == 20; });
    EXPECT_EQ(static_cast<DWORD>(kRingWriterDone), writer.ExitCode(10000));
    EXPECT_EQ(20u, count.last);
    EXPECT_EQ(0, count.torn);
    FrameInfo info = {};
    EXPECT_EQ(S_FALSE, reader.CopyLatest(buffer.data(), buffer.size(), &info));
}

TEST(FrameRingProcessTest, AWriterKilledMidFrameLeavesNoTornFrameAndTheNextWriterGoesOn) {
    const std::wstring prefix = UniquePrefix();
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(1, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest(Nv12Request(kLargest)));
    SectionView memory;
    RingAccess access = {};
    ASSERT_EQ(S_OK, BuildRingAccessOfProcessUser(1, prefix.c_str(), &access));
    ASSERT_EQ(S_OK, memory.Open(access.frames));
    const std::wstring midFrameName = prefix + L"MidFrame";
    const UniqueHandle midFrame(::CreateEventW(nullptr, TRUE, FALSE, midFrameName.c_str()));
    ASSERT_TRUE(midFrame);

    WriterProcess dying;
    ASSERT_EQ(S_OK, dying.Start(prefix, "hang 5 " + std::string(midFrameName.begin(), midFrameName.end())));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(midFrame.get(), 30000)) << "exit code " << dying.ExitCode(0);

    // Frame 5 is published; frame 6 is half written in the next slot,
    // whose sequence is odd.
    const uint64_t latest = memory.Header()->latest.load();
    EXPECT_EQ(5u, latest >> 8);
    const uint32_t halfWritten = static_cast<uint32_t>(((latest & 0xFF) + 1) % kSlotCount);
    EXPECT_EQ(1u, memory.Slot(halfWritten)->sequence.load() % 2);
    EXPECT_EQ(FrameByte(6), memory.SlotData(halfWritten)[0]);
    std::vector<BYTE> buffer(kSlotCapacity);
    FrameInfo info = {};
    ASSERT_EQ(S_OK, reader.CopyLatest(buffer.data(), buffer.size(), &info));
    EXPECT_EQ(5u, info.frameNumber);
    EXPECT_TRUE(IsUniform(buffer.data(), info.dataSize, FrameByte(5)));

    dying.Kill();
    EXPECT_EQ(S_FALSE, reader.CopyLatest(buffer.data(), buffer.size(), &info));
    EXPECT_EQ(1u, memory.Slot(halfWritten)->sequence.load() % 2) << "left odd for good";

    // A new writer takes the ring over from the dead one and goes on.
    WriterProcess next;
    ASSERT_EQ(S_OK, next.Start(prefix, "frames 3"));
    const ReadCount count = ReadUniformFrames(&reader, &buffer, 30000, [](const ReadCount& c) { return c.last == 8; });
    EXPECT_EQ(static_cast<DWORD>(kRingWriterDone), next.ExitCode(10000));
    EXPECT_EQ(8u, count.last);
    EXPECT_EQ(0, count.torn);
    EXPECT_EQ(0u, memory.Slot(halfWritten)->sequence.load() % 2) << "the slot was written again";
}

TEST(FrameRingProcessTest, AReaderNeverGetsATornFrameFromAStreamingWriterKilledAnyTime) {
    const std::wstring prefix = UniquePrefix();
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(1, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest(Nv12Request(kLargest)));
    std::vector<BYTE> buffer(kSlotCapacity);
    std::mt19937 random(std::random_device{}());
    uint64_t last = 0;
    for (int round = 0; round < 3; ++round) {
        WriterProcess writer;
        ASSERT_EQ(S_OK, writer.Start(prefix, "stream"));
        // From the first frame on, reads for a while, then kills the writer
        // wherever it is.
        ReadCount count = ReadUniformFrames(&reader, &buffer, 30000, [](const ReadCount& c) { return c.frames > 0; });
        const DWORD readMs = 300 + static_cast<DWORD>(random() % 500);
        const ReadCount more = ReadUniformFrames(&reader, &buffer, readMs, [](const ReadCount&) { return false; });
        writer.Kill();
        count.frames += more.frames;
        count.torn += more.torn + (more.frames > 0 && more.last <= count.last ? 1 : 0);
        count.last = more.frames > 0 ? more.last : count.last;
        std::printf("round %d: %d frames read, up to frame %llu, then killed after %lu ms more\n", round, count.frames,
                    static_cast<unsigned long long>(count.last), static_cast<unsigned long>(readMs));
        EXPECT_EQ(0, count.torn) << "round " << round;
        EXPECT_GT(count.frames, 0) << "round " << round;
        EXPECT_GT(count.last, last) << "round " << round;
        last = count.last;
        // After the kill: the last published frame at most, whole.
        FrameInfo info = {};
        if (reader.CopyLatest(buffer.data(), buffer.size(), &info) == S_OK) {
            EXPECT_TRUE(IsUniform(buffer.data(), info.dataSize, FrameByte(info.frameNumber)));
            EXPECT_GT(info.frameNumber, last);
            last = info.frameNumber;
        }
    }
}

TEST(FrameRingProcessTest, AWriterThatStallsMidFrameInAnotherProcessNeverWritesIntoTheNewWritersFrames) {
    // The writer process stalls half way through a frame for longer than
    // the stale limit (its heartbeat is made that old), this process takes
    // the ring over and commits frames, then the stalled writer wakes,
    // writes its other half straight into its slot and commits.
    const std::wstring prefix = UniquePrefix();
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(1, prefix.c_str()));
    const FrameRequest request = Nv12Request();
    ASSERT_EQ(S_OK, reader.SetRequest(request));
    SectionView memory;
    RingAccess access = {};
    ASSERT_EQ(S_OK, BuildRingAccessOfProcessUser(1, prefix.c_str(), &access));
    ASSERT_EQ(S_OK, memory.Open(access.frames));
    const std::wstring midFrameName = prefix + L"MidFrame";
    const std::wstring resumeName = prefix + L"Resume";
    const UniqueHandle midFrame(::CreateEventW(nullptr, TRUE, FALSE, midFrameName.c_str()));
    const UniqueHandle resume(::CreateEventW(nullptr, TRUE, FALSE, resumeName.c_str()));
    ASSERT_TRUE(midFrame && resume);

    WriterProcess stalled;
    ASSERT_EQ(S_OK, stalled.Start(prefix, "stall 3 " + std::string(midFrameName.begin(), midFrameName.end()) + " " +
                                              std::string(resumeName.begin(), resumeName.end())));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(midFrame.get(), 30000)) << "exit code " << stalled.ExitCode(0);
    memory.Header()->writerHeartbeat.store(::GetTickCount() - 2 * kStaleAfterMs);

    // This process's frames: every byte the complement of FrameByte.
    CFrameRingWriter taker;
    ASSERT_EQ(S_OK, taker.Open(1, prefix.c_str()));
    const auto writeOwnFrame = [&] {
        FrameSlot slot = {};
        RETURN_IF_FAILED(taker.BeginFrame(&slot));
        uint32_t dataSize = 0;
        RETURN_HR_IF(E_INVALIDARG, !DataSizeOf(FrameFor(request), &dataSize));
        std::memset(slot.data, static_cast<BYTE>(~FrameByte(slot.frameNumber)), dataSize);
        return taker.CommitFrame(FrameFor(request));
    };
    std::vector<BYTE> buffer(kSlotCapacity);
    FrameInfo info = {};
    const auto readOwnFrame = [&](const char* when) {
        ASSERT_EQ(S_OK, reader.CopyLatest(buffer.data(), buffer.size(), &info)) << when;
        EXPECT_TRUE(IsUniform(buffer.data(), info.dataSize, static_cast<BYTE>(~FrameByte(info.frameNumber))))
            << when << ": frame " << info.frameNumber << " is not this process's whole frame";
    };
    ASSERT_EQ(S_OK, writeOwnFrame());

    ASSERT_TRUE(::SetEvent(resume.get()));
    EXPECT_EQ(static_cast<DWORD>(kRingWriterLostTheRing), stalled.ExitCode(30000));
    readOwnFrame("after the stalled writer's second half");
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        ASSERT_EQ(S_OK, writeOwnFrame());
        readOwnFrame("later");
    }
}
