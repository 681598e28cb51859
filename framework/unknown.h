// The aggregatable object base: live-object counting (CBaseObject) and the
// non-delegating IUnknown with its owner pointer and reference count
// (CUnknown). Every COM object of the module derives from CUnknown.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

// Same shape as IUnknown under other names, so that an object can answer
// for itself while its interface parts forward to an aggregating owner.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts every live object and class factory, for DllCanUnloadNow.
class CBaseObject {
public:
    CBaseObject();
    ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    static LONG ObjectsActive() { return m_cObjects.load(); }

private:
    static std::atomic<LONG> m_cObjects;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // The object name is descriptive only and is not kept.
    CUnknown(LPCWSTR objectName, IUnknown* outer);
    virtual ~CUnknown();

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_pUnknown; }

protected:
    // The outer unknown inside an aggregate, otherwise this object's own
    // non-delegating unknown. Not counted: the owner holds us, not we it.
    IUnknown* const m_pUnknown;
    std::atomic<LONG> m_cRef{0};
};

// Hands out one interface part of an object, AddRef'd through that part.
[[nodiscard]] HRESULT GetInterface(IUnknown* part, void** ppv);

// The IUnknown methods of every interface part forward to the owner.
#define DECLARE_IUNKNOWN                                                     \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);                         \
    }                                                                        \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); } \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
