// CUnknown and CBaseObject with real objects: counting, identity, the
// re-entrancy guard, and atomic counting under concurrent use.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "framework/unknown.h"

namespace {

class Counted : public CUnknown {
public:
    explicit Counted(int* destroyed, bool touchDuringDestruction = false)
        : CUnknown(L"Counted", nullptr), m_destroyed(destroyed), m_touch(touchDuringDestruction) {}
    ~Counted() override {
        if (m_touch) {
            // Something reached during destruction takes and drops a
            // reference; that must not destroy the object a second time.
            NonDelegatingAddRef();
            NonDelegatingRelease();
        }
        ++*m_destroyed;
    }

private:
    int* m_destroyed;
    bool m_touch;
};

}  // namespace

TEST(UnknownTest, FreshObjectCountsFromOneAndDestroysAtZero) {
    const LONG before = CBaseObject::ObjectsActive();
    int destroyed = 0;
    auto* object = new Counted(&destroyed);
    EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());
    EXPECT_EQ(1u, object->NonDelegatingAddRef());
    EXPECT_EQ(2u, object->NonDelegatingAddRef());
    EXPECT_EQ(1u, object->NonDelegatingRelease());
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

TEST(UnknownTest, ReferenceTakenDuringDestructionDoesNotDestroyTwice) {
    int destroyed = 0;
    auto* object = new Counted(&destroyed, true);
    object->NonDelegatingAddRef();
    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
}

TEST(UnknownTest, QueryInterfaceGivesOwnIdentityAndChecksPointers) {
    int destroyed = 0;
    auto* object = new Counted(&destroyed);
    object->NonDelegatingAddRef();
    EXPECT_EQ(E_POINTER, object->NonDelegatingQueryInterface(IID_IUnknown, nullptr));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, object->NonDelegatingQueryInterface(IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(static_cast<INonDelegatingUnknown*>(object), out);
    EXPECT_EQ(object->GetOwner(), out);
    EXPECT_EQ(E_POINTER, GetInterface(object->GetOwner(), nullptr));
    object->NonDelegatingRelease();
    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
}

TEST(UnknownTest, ConcurrentCountingIsExact) {
    const LONG before = CBaseObject::ObjectsActive();
    int destroyed = 0;
    auto* object = new Counted(&destroyed);
    object->NonDelegatingAddRef();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([object] {
            for (int i = 0; i < 20000; ++i) {
                object->NonDelegatingAddRef();
                object->NonDelegatingRelease();
            }
        });
    }
    std::vector<CBaseObject*> bases;
    std::thread creator([&bases] {
        for (int i = 0; i < 1000; ++i) {
            bases.push_back(new CBaseObject());
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    creator.join();
    EXPECT_EQ(before + 1001, CBaseObject::ObjectsActive());
    for (CBaseObject* b : bases) {
        delete b;
    }
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}
