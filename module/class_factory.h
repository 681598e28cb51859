// The factory template table and the class factory that serves its rows.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

#include "framework/unknown.h"

struct AMOVIESETUP_FILTER;

// Builds one new object; may report a failure through the HRESULT.
using LPFNNewCOMObject = CUnknown*(WINAPI*)(IUnknown* outer, HRESULT* phr);
// Per-class hook called with TRUE on module load and FALSE on unload.
using LPFNInitRoutine = void(WINAPI*)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

class CClassFactory final : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* factoryTemplate);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // Net count of LockServer(TRUE) calls; may go negative on unbalanced
    // unlocks, which counts as unlocked.
    static LONG LockCount() { return m_cLocked.load(); }

private:
    ~CClassFactory() = default;

    const CFactoryTemplate* const m_pTemplate;
    std::atomic<LONG> m_cRef{0};
    static std::atomic<LONG> m_cLocked;
};

// DllGetClassObject over any table, so that the machinery can be driven
// with tables other than the module's own.
HRESULT GetClassObjectFromTable(const CFactoryTemplate* table, int count, REFCLSID clsid, REFIID riid,
                                void** ppv);

// S_OK when no object or factory is alive and no server lock is held.
HRESULT CanUnloadModule();
