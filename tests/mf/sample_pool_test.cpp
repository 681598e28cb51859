// The media stream's sample pool: a sample goes out again only once its
// client let go of it and of its buffer, so that a frame never overwrites
// memory a client still reads.
#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>

#include <cstring>
#include <set>
#include <vector>

#include "mf/sample_pool.h"

using Microsoft::WRL::ComPtr;

namespace {

class SamplePoolTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET)); }
    void TearDown() override { EXPECT_EQ(S_OK, ::MFShutdown()); }

    ComPtr<IMFSample> Acquire(BYTE fill) {
        ComPtr<IMFSample> sample;
        BYTE* data = nullptr;
        EXPECT_EQ(S_OK, m_pool.Acquire(&sample, &data));
        if (data != nullptr) {
            std::memset(data, fill, m_pool.Bytes());
        }
        m_pool.Unlock();
        return sample;
    }

    static BYTE FirstByte(IMFSample* sample) {
        ComPtr<IMFMediaBuffer> buffer;
        EXPECT_EQ(S_OK, sample->GetBufferByIndex(0, &buffer));
        BYTE* data = nullptr;
        EXPECT_EQ(S_OK, buffer->Lock(&data, nullptr, nullptr));
        const BYTE first = data != nullptr ? data[0] : 0;
        EXPECT_EQ(S_OK, buffer->Unlock());
        return first;
    }

    CSamplePool m_pool;
};

}  // namespace

TEST_F(SamplePoolTest, HeldSamplesAreNeverHandedOutAgainReleasedOnesAre) {
    BYTE* data = nullptr;
    ComPtr<IMFSample> none;
    EXPECT_EQ(E_UNEXPECTED, m_pool.Acquire(&none, &data)) << "before Reset";
    EXPECT_EQ(E_INVALIDARG, m_pool.Reset(0));
    ASSERT_EQ(S_OK, m_pool.Reset(64));

    // The client holds every pooled sample and one more.
    std::vector<ComPtr<IMFSample>> held;
    for (int i = 0; i <= CSamplePool::kPoolSize; ++i) {
        held.push_back(Acquire(static_cast<BYTE>(i + 1)));
    }
    std::set<IMFSample*> distinct;
    for (const ComPtr<IMFSample>& sample : held) {
        distinct.insert(sample.Get());
    }
    EXPECT_EQ(held.size(), distinct.size());
    EXPECT_EQ(1u, m_pool.OverflowCountForTesting());
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(static_cast<BYTE>(i + 1), FirstByte(held[i].Get())) << "a held sample was overwritten";
        DWORD length = 0;
        ASSERT_EQ(S_OK, held[i]->GetTotalLength(&length));
        EXPECT_EQ(64u, length);
    }

    // One let go: it comes back, without another sample made.
    IMFSample* released = held[1].Get();
    held[1].Reset();
    ComPtr<IMFSample> again = Acquire(0x55);
    EXPECT_EQ(released, again.Get());
    EXPECT_EQ(1u, m_pool.OverflowCountForTesting());
    again.Reset();

    // A sample let go while its buffer is still held stays out.
    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(S_OK, held[2]->GetBufferByIndex(0, &buffer));
    IMFSample* bufferHeld = held[2].Get();
    held[2].Reset();
    for (int i = 0; i < CSamplePool::kPoolSize; ++i) {
        ComPtr<IMFSample> next = Acquire(0x66);
        EXPECT_NE(bufferHeld, next.Get());
    }
    BYTE* memory = nullptr;
    ASSERT_EQ(S_OK, buffer->Lock(&memory, nullptr, nullptr));
    EXPECT_EQ(3, memory[0]) << "the held buffer was overwritten";
    ASSERT_EQ(S_OK, buffer->Unlock());
}

TEST_F(SamplePoolTest, WhatAClientSetOnASampleDoesNotTravelToTheNextFrame) {
    ASSERT_EQ(S_OK, m_pool.Reset(16));
    for (int round = 0; round < 2 * CSamplePool::kPoolSize; ++round) {
        ComPtr<IMFSample> sample = Acquire(1);
        UINT32 count = 99;
        ASSERT_EQ(S_OK, sample->GetCount(&count));
        EXPECT_EQ(0u, count) << round;
        ASSERT_EQ(S_OK, sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE));
        // The client shortens the buffer; the next frame is whole again.
        ComPtr<IMFMediaBuffer> buffer;
        ASSERT_EQ(S_OK, sample->GetBufferByIndex(0, &buffer));
        ASSERT_EQ(S_OK, buffer->SetCurrentLength(3));
    }
    EXPECT_EQ(0u, m_pool.OverflowCountForTesting());
    ComPtr<IMFSample> last = Acquire(2);
    DWORD length = 0;
    ASSERT_EQ(S_OK, last->GetTotalLength(&length));
    EXPECT_EQ(16u, length);
}
