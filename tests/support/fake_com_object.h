// One template for every test fake: FakeComObject<Interfaces...> supplies
// the reference count and a QueryInterface that answers IUnknown and each
// listed interface, so a fake only writes the methods a test needs.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <tuple>
#include <utility>

namespace qmtest {

template <typename... Interfaces>
class FakeComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "a fake implements at least one interface");
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    FakeComObject() = default;
    FakeComObject(const FakeComObject&) = delete;
    FakeComObject& operator=(const FakeComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(static_cast<Primary*>(this));
        } else {
            (TryInterface<Interfaces>(riid, ppv) || ...);
        }
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_cRef); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --m_cRef;
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    // References held on the fake, its creator's included.
    LONG RefCount() const { return m_cRef.load(); }

protected:
    virtual ~FakeComObject() = default;

private:
    template <typename Interface>
    bool TryInterface(REFIID riid, void** ppv) {
        if (!IsEqualIID(riid, __uuidof(Interface))) {
            return false;
        }
        *ppv = static_cast<Interface*>(this);
        return true;
    }

    std::atomic<LONG> m_cRef{1};
};

// A new fake, owned by the returned pointer (its one reference).
template <typename Fake, typename... Args>
Microsoft::WRL::ComPtr<Fake> MakeFake(Args&&... args) {
    Microsoft::WRL::ComPtr<Fake> fake;
    // Not Attach: mingw-w64's ComPtr::Attach takes a reference of its own.
    *fake.ReleaseAndGetAddressOf() = new Fake(std::forward<Args>(args)...);
    return fake;
}

}  // namespace qmtest
