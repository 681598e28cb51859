// The class factory machinery, driven with test classes and tables of the
// tests' own, and the module's exports.
#include <gtest/gtest.h>

#include <objbase.h>
#include <wrl/client.h>

#include "framework/unknown.h"
#include "module/class_factory.h"
#include "module/module.h"

using Microsoft::WRL::ComPtr;

namespace {

// {2F3B7B0C-0D55-4C6E-9A8D-4A7C1E2B9F01}
constexpr GUID CLSID_TestObject = {0x2f3b7b0c, 0x0d55, 0x4c6e, {0x9a, 0x8d, 0x4a, 0x7c, 0x1e, 0x2b, 0x9f, 0x01}};
// {2F3B7B0C-0D55-4C6E-9A8D-4A7C1E2B9F02}
constexpr GUID CLSID_Other = {0x2f3b7b0c, 0x0d55, 0x4c6e, {0x9a, 0x8d, 0x4a, 0x7c, 0x1e, 0x2b, 0x9f, 0x02}};

int g_destroyed = 0;
HRESULT g_creationResult = S_OK;
bool g_returnNull = false;

// A small aggregatable object with one interface of its own (IPersist).
class TestObject : public CUnknown, public IPersist {
public:
    explicit TestObject(IUnknown* outer) : CUnknown(L"TestObject", outer) {}
    ~TestObject() override { ++g_destroyed; }

    DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (ppv != nullptr && IsEqualIID(riid, IID_IPersist)) {
            return GetInterface(static_cast<IPersist*>(this), ppv);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        if (clsid == nullptr) {
            return E_POINTER;
        }
        *clsid = CLSID_TestObject;
        return S_OK;
    }

    static CUnknown* WINAPI Create(IUnknown* outer, HRESULT* phr) {
        if (g_returnNull) {
            *phr = g_creationResult;
            return nullptr;
        }
        auto* object = new TestObject(outer);
        *phr = g_creationResult;
        return object;
    }
};

const CFactoryTemplate kTable[] = {
    {L"Other", &CLSID_Other, &TestObject::Create, nullptr, nullptr},
    {L"Test", &CLSID_TestObject, &TestObject::Create, nullptr, nullptr},
};

class ClassFactoryTest : public testing::Test {
protected:
    void SetUp() override {
        g_destroyed = 0;
        g_creationResult = S_OK;
        g_returnNull = false;
        m_objectsBefore = CBaseObject::ObjectsActive();
        m_locksBefore = CClassFactory::LockCount();
    }
    void TearDown() override {
        EXPECT_EQ(m_objectsBefore, CBaseObject::ObjectsActive());
        EXPECT_EQ(m_locksBefore, CClassFactory::LockCount());
    }
    HRESULT GetFactory(ComPtr<IClassFactory>& factory) {
        return GetClassObjectFromTable(kTable, 2, CLSID_TestObject, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf()));
    }
    LONG m_objectsBefore = 0;
    LONG m_locksBefore = 0;
};

// An outer object that aggregates a TestObject and answers IPersist with
// the inner object's interface.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    LONG refs = 1;
    IUnknown* inner = nullptr;
};

}  // namespace

TEST_F(ClassFactoryTest, FactoryCountsAsObjectUntilReleased) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(factory));
    EXPECT_EQ(m_objectsBefore + 1, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_FALSE, CanUnloadModule());
    factory.Reset();
    EXPECT_EQ(m_objectsBefore, CBaseObject::ObjectsActive());
    if (m_objectsBefore == 0 && m_locksBefore <= 0) {
        EXPECT_EQ(S_OK, CanUnloadModule());
    }
}

TEST_F(ClassFactoryTest, GetClassObjectChecksInterfaceBeforeClass) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_POINTER, GetClassObjectFromTable(kTable, 2, CLSID_TestObject, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_NOINTERFACE, GetClassObjectFromTable(kTable, 2, CLSID_TestObject, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, GetClassObjectFromTable(kTable, 2, GUID_NULL, IID_IPersist, &out));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              GetClassObjectFromTable(kTable, 2, GUID_NULL, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    // The factory is handed out for IUnknown as well.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, GetClassObjectFromTable(kTable, 2, CLSID_Other, IID_IUnknown,
                                            reinterpret_cast<void**>(unknown.GetAddressOf())));
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, unknown.As(&factory));
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, unknown->QueryInterface(IID_IUnknown, nullptr));
}

TEST_F(ClassFactoryTest, ModuleExportsRefuseBadArguments) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_POINTER, DllGetClassObject(CLSID_TestObject, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CLSID_TestObject, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(CLSID_TestObject, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(ClassFactoryTest, CreatesObjectWithExactlyTheQueriedReference) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(factory));
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&persist)));
    CLSID clsid{};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TestObject, clsid));
    EXPECT_EQ(2u, persist->AddRef());
    EXPECT_EQ(1u, persist->Release());
    persist.Reset();
    EXPECT_EQ(1, g_destroyed);
}

TEST_F(ClassFactoryTest, CreationFailuresLeaveNothingBehind) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(factory));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IPersist, nullptr));

    // The object lacks the interface: destroyed by the final release.
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1, g_destroyed);

    // An object returned with a failure code is discarded.
    g_creationResult = E_ACCESSDENIED;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(nullptr, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(2, g_destroyed);

    // No object: the reported code, or E_OUTOFMEMORY when none was reported.
    g_returnNull = true;
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(nullptr, IID_IPersist, &out));
    g_creationResult = S_OK;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(nullptr, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(ClassFactoryTest, AggregationRequiresIUnknown) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(factory));
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    const LONG objects = CBaseObject::ObjectsActive();
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(objects, CBaseObject::ObjectsActive());
    EXPECT_EQ(0, g_destroyed);

    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
    outer.inner = inner;
    // The inner part forwards its counting to the outer object.
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_PPV_ARGS(&persist)));
    EXPECT_EQ(2, outer.refs);
    // IUnknown on an inner interface part reaches the outer identity.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, persist.As(&identity));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
    identity.Reset();
    persist.Reset();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0u, inner->Release());
    EXPECT_EQ(1, g_destroyed);
}

TEST_F(ClassFactoryTest, LockServerIsCountedAndMayGoNegative) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(factory));
    const LONG base = CClassFactory::LockCount();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(base + 1, CClassFactory::LockCount());
    EXPECT_EQ(S_FALSE, CanUnloadModule());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(base - 1, CClassFactory::LockCount());
    factory.Reset();
    if (m_objectsBefore == 0 && base == 0) {
        // Unbalanced unlocks count as unlocked.
        EXPECT_EQ(S_OK, CanUnloadModule());
    }
    ComPtr<IClassFactory> again;
    ASSERT_EQ(S_OK, GetFactory(again));
    EXPECT_EQ(S_OK, again->LockServer(TRUE));
}
