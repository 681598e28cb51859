// The IMFAttributes methods of an interface that extends IMFAttributes
// (IMFActivate), each handed to an attribute store that the object keeps
// (m_store), so that the object is an attribute store without writing
// one. The IUnknown methods stay the object's.
#pragma once

#include <windows.h>
#include <mfobjects.h>
#include <wrl/client.h>

template <typename Interface>
class CAttributeStoreForwarder : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetItem(REFGUID key, PROPVARIANT* value) override { return m_store->GetItem(key, value); }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
        return m_store->GetItemType(key, type);
    }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override {
        return m_store->CompareItem(key, value, result);
    }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE match, BOOL* result) override {
        return m_store->Compare(theirs, match, result);
    }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override { return m_store->GetUINT32(key, value); }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override { return m_store->GetUINT64(key, value); }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override { return m_store->GetDouble(key, value); }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override { return m_store->GetGUID(key, value); }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override {
        return m_store->GetStringLength(key, length);
    }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR value, UINT32 capacity, UINT32* length) override {
        return m_store->GetString(key, value, capacity, length);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
        return m_store->GetAllocatedString(key, value, length);
    }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override { return m_store->GetBlobSize(key, size); }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, UINT8* buffer, UINT32 capacity, UINT32* size) override {
        return m_store->GetBlob(key, buffer, capacity, size);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
        return m_store->GetAllocatedBlob(key, buffer, size);
    }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID riid, LPVOID* ppv) override {
        return m_store->GetUnknown(key, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID key, REFPROPVARIANT value) override { return m_store->SetItem(key, value); }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override { return m_store->DeleteItem(key); }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return m_store->DeleteAllItems(); }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override { return m_store->SetUINT32(key, value); }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override { return m_store->SetUINT64(key, value); }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override { return m_store->SetDouble(key, value); }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override { return m_store->SetGUID(key, value); }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override { return m_store->SetString(key, value); }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
        return m_store->SetBlob(key, buffer, size);
    }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* value) override {
        return m_store->SetUnknown(key, value);
    }
    HRESULT STDMETHODCALLTYPE LockStore() override { return m_store->LockStore(); }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return m_store->UnlockStore(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override { return m_store->GetCount(count); }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
        return m_store->GetItemByIndex(index, key, value);
    }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* destination) override {
        return m_store->CopyAllItems(destination);
    }

protected:
    // Made before the object is handed out, kept until it goes: every call
    // finds it.
    Microsoft::WRL::ComPtr<IMFAttributes> m_store;
};
