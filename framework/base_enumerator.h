// CBaseEnumerator: what the framework's enumerators (CEnumPins,
// CEnumMediaTypes) share. Each walks a list that its owner (a filter's
// pins, a pin's media types) gives out one position at a time, asking
// afresh on every step, and notices a changed list by the owner's version
// of it, taken when the enumerator starts and at each Reset.
//
// The base holds a reference on the owner for the enumerator's life,
// counts references, answers QueryInterface for IUnknown and Interface,
// keeps the position and the version, and implements the steps that are
// alike: Next's checks of its arguments, Reset and Clone. The enumerator
// (Derived) supplies what differs, through these members, which the base
// calls as Derived's (its friend):
//
//   static LONG VersionOf(Owner& owner);
//       the owner's version of the list now;
//   HRESULT CheckInStep() const;
//       Next's answer, before its arguments are read, to a list that
//       changed: a failure ends the call, S_OK goes on;
//   HRESULT Fetch(ULONG count, Item* items, ULONG* fetched);
//       Next's work once the arguments are checked: items is not null, and
//       fetched is either set to 0 or null with count at most 1;
//   void OnReset();
//       Reset's own part, after the position and version started over;
//   Derived(Owner* owner, const Derived* source);
//       the clone constructor (source null: a fresh enumerator);
//   Skip, which each enumerator answers in its own way.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <atomic>
#include <new>

#include "framework/com_util.h"

template <class Derived, class Interface, class Item, class Owner, class OwnerInterface>
class CBaseEnumerator : public Interface {
public:
    CBaseEnumerator(const CBaseEnumerator&) = delete;
    CBaseEnumerator& operator=(const CBaseEnumerator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        if (IsEqualIID(riid, __uuidof(Interface)) || IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_cRef); }

    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --m_cRef;
        if (count == 0) {
            delete static_cast<Derived*>(this);
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        RETURN_HR_IF_NULL(E_POINTER, items);
        RETURN_IF_FAILED(Self().CheckInStep());
        if (fetched != nullptr) {
            *fetched = 0;
        } else if (count > 1) {
            // Without a fetched count the caller could not tell how many came.
            return E_INVALIDARG;
        }
        return Self().Fetch(count, items, fetched);
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        Rewind();
        Self().OnReset();
        return S_OK;
    }

    // A clone stands where this enumerator stands, with its version; none
    // is made while the list is out of step.
    HRESULT STDMETHODCALLTYPE Clone(Interface** enumerator) override {
        RETURN_HR_IF_NULL(E_POINTER, enumerator);
        *enumerator = nullptr;
        RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
        try {
            *enumerator = new Derived(m_pOwner, static_cast<const Derived*>(this));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

protected:
    // Starts at the first position with the owner's version, or where
    // `source` stands for a clone.
    CBaseEnumerator(Owner* owner, const CBaseEnumerator* source) : m_pOwner(owner) {
        static_cast<OwnerInterface*>(m_pOwner)->AddRef();
        if (source == nullptr) {
            m_Version = Derived::VersionOf(*m_pOwner);
        } else {
            m_Position = source->m_Position;
            m_Version = source->m_Version;
        }
    }
    // Should Derived's constructor throw, this still gives the owner's
    // reference back.
    ~CBaseEnumerator() { static_cast<OwnerInterface*>(m_pOwner)->Release(); }

    bool AreWeOutOfSync() const { return Derived::VersionOf(*m_pOwner) != m_Version; }

    // Back to the first position, with the owner's version now.
    void Rewind() {
        m_Position = 0;
        m_Version = Derived::VersionOf(*m_pOwner);
    }

    // Held (one reference) for the enumerator's life.
    Owner* const m_pOwner;
    LONG m_Position = 0;
    LONG m_Version = 0;

private:
    Derived& Self() { return static_cast<Derived&>(*this); }

    std::atomic<LONG> m_cRef{1};
};
